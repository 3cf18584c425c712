#include "valuestore/core/file_system.h"

namespace vs {

bool mayNameSingleFile(std::string_view path) {
    if (path.empty() || path.find_first_of("*?") != std::string_view::npos) return false;
    return path.back() != '/' && path.back() != '\\';
}

} // namespace vs
