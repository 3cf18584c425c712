// A fresh folder under the system's temporary folder, removed with everything in it at the end.
#pragma once

#include <filesystem>
#include <set>
#include <string>

namespace vs::test {

class TempFolder {
public:
    // Under `base`, or the system's temporary folder when base is empty.
    explicit TempFolder(const std::filesystem::path& base = {});
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }
    // The path of an entry as the store takes it (a narrow string).
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::set<std::string> entries() const;

private:
    std::filesystem::path path_;
};

// Whole-file access in binary mode, independent of the code under test.
std::string readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);

} // namespace vs::test
