#pragma once
// What the platforms share: the tool's text goes to the C standard streams, each write flushed at
// once (a reader sees progress as it happens, and nothing is lost when the tool is stopped).

#include "updater/cli/platform.h"

#include <cstdio>

namespace qz::cli {

class StdioPlatform : public Platform {
public:
    void write(Stream stream, std::string_view text) final {
        std::FILE* file = stream == Stream::out ? stdout : stderr;
        std::fwrite(text.data(), 1, text.size(), file);
        std::fflush(file);
    }
};

} // namespace qz::cli
