// An in-memory vs::FileSystem with injectable failures and a log of every access.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "valuestore/core/value_store.h"

namespace vs::test {

class MemoryFileSystem : public FileSystem {
public:
    std::map<std::string, std::string> files;
    std::set<std::string> folders{""}; // "" is the current folder; a path's folder is what precedes its last '/'
    std::optional<int> readFailure;    // error number thrown by every readFile (a file error naming the path)
    std::optional<int> writeFailure;   // the same for every replaceFile (the file stays as it was)
    std::vector<std::string> log;      // "read PATH", "replace PATH", "remove PATH"
    LeadBytes lead{};                  // single-byte code page unless set

    bool namesSingleFile(const std::string& path) override;
    std::optional<std::string> readFile(const std::string& path) override;
    void replaceFile(const std::string& path, std::string_view content) override;
    void removeFile(const std::string& path) override;
    const LeadBytes& leadBytes() const override { return lead; }

private:
    void requireFolder(const std::string& path) const;
};

// Records the ambiguity warnings.
struct RecordingWarner : Warner {
    int warnings = 0;
    void warnAmbiguous() override { ++warnings; }
};

// The lead bytes of code page 932 (Japanese): 0x81 to 0x9F and 0xE0 to 0xFC.
LeadBytes codePage932LeadBytes();

// The bytes a save writes for the two line texts.
std::string fileBytes(std::string_view declarationLine, std::string_view valueLine);

} // namespace vs::test
