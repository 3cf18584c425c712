#include "valuestore/tests/support/memory_file_system.h"

namespace vs::test {

namespace {
std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}
} // namespace

void MemoryFileSystem::requireFolder(const std::string& path) const {
    if (!folders.contains(folderOf(path))) throw StoreError(error::pathNotFound);
}

bool MemoryFileSystem::namesSingleFile(const std::string& path) {
    return mayNameSingleFile(path) && !folders.contains(path);
}

std::optional<std::string> MemoryFileSystem::readFile(const std::string& path) {
    log.push_back("read " + path);
    if (readFailure) throw fileError(*readFailure, path, "injected failure");
    requireFolder(path);
    const auto it = files.find(path);
    if (it == files.end()) return std::nullopt;
    return it->second;
}

void MemoryFileSystem::replaceFile(const std::string& path, std::string_view content) {
    log.push_back("replace " + path);
    if (writeFailure) throw fileError(*writeFailure, path, "injected failure");
    requireFolder(path);
    files[path] = std::string(content);
}

void MemoryFileSystem::removeFile(const std::string& path) {
    log.push_back("remove " + path);
    requireFolder(path);
    if (files.erase(path) == 0) throw StoreError(error::fileNotFound);
}

LeadBytes codePage932LeadBytes() {
    LeadBytes lead{};
    for (unsigned b = 0x81; b <= 0xFC; ++b) lead[b] = b <= 0x9F || b >= 0xE0;
    return lead;
}

std::string fileBytes(std::string_view declarationLine, std::string_view valueLine) {
    std::string bytes;
    bytes.append("\"").append(declarationLine).append("\"\r\n\"").append(valueLine).append("\"\r\n");
    return bytes;
}

} // namespace vs::test
