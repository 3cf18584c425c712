// vs::FileSystem on Windows: ANSI paths, whole-file reads, saves through a temporary file in the same
// folder, flushed and moved over the target with write-through.
#include <windows.h>

#include <atomic>
#include <string>
#include <utility>

#include "value_store.h"

namespace vs {
namespace {

int errorNumberOf(DWORD err) {
  switch (err) {
    case ERROR_FILE_NOT_FOUND: return error::fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_INVALID_DRIVE: return error::pathNotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_WRITE_PROTECT: return error::permissionDenied;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL: return error::diskFull;
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
    case ERROR_DIRECTORY: return error::badFileName;
    default: return error::pathFileAccessError;
  }
}

[[noreturn]] void fail(DWORD err) { throw StoreError(errorNumberOf(err)); }

class Handle {
 public:
  explicit Handle(HANDLE h) : h_(h) {}
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  ~Handle() {
    if (valid()) ::CloseHandle(h_);
  }
  bool valid() const { return h_ != INVALID_HANDLE_VALUE && h_ != nullptr; }
  HANDLE get() const { return h_; }
  bool close() {
    const BOOL ok = ::CloseHandle(h_);
    h_ = INVALID_HANDLE_VALUE;
    return ok != FALSE;
  }

 private:
  HANDLE h_;
};

bool isFolder(const std::string& path) {
  const DWORD attributes = ::GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// The folder part of a path including its separator ("" for a bare name, "C:" for "C:name").
std::string folderPrefixOf(const std::string& path) {
  const std::size_t cut = path.find_last_of("\\/:");
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

class Win32FileSystem final : public FileSystem {
 public:
  bool namesSingleFile(const std::string& path) override { return mayNameSingleFile(path) && !isFolder(path); }

  std::optional<std::string> readFile(const std::string& path) override {
    // Shared for deletion too, so that another process may still replace the file while it is read.
    Handle file(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
      const DWORD err = ::GetLastError();
      if (err == ERROR_FILE_NOT_FOUND) return std::nullopt;
      fail(err);
    }
    std::string content;
    char buffer[65536];
    for (;;) {
      DWORD read = 0;
      if (!::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) fail(::GetLastError());
      if (read == 0) break;
      content.append(buffer, read);
    }
    return content;
  }

  void replaceFile(const std::string& path, std::string_view content) override {
    // A read-only file is not replaced. Checked first, since some file systems let a rename over it through.
    const DWORD attributes = ::GetFileAttributesA(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0)
      throw StoreError(error::permissionDenied);
    const auto [temp, handle] = createTemporary(folderPrefixOf(path));
    try {
      Handle file(handle);
      while (!content.empty()) {
        const DWORD chunk = content.size() > 0x10000000 ? 0x10000000 : static_cast<DWORD>(content.size());
        DWORD written = 0;
        if (!::WriteFile(file.get(), content.data(), chunk, &written, nullptr)) fail(::GetLastError());
        content.remove_prefix(written);
      }
      if (!::FlushFileBuffers(file.get())) fail(::GetLastError());
      if (!file.close()) fail(::GetLastError());
      if (!::MoveFileExA(temp.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(::GetLastError());
    } catch (...) {
      ::DeleteFileA(temp.c_str());
      throw;
    }
  }

  void removeFile(const std::string& path) override {
    if (!::DeleteFileA(path.c_str())) fail(::GetLastError());
  }

 private:
  // Creates an empty, uniquely named file in the folder, open for writing.
  static std::pair<std::string, HANDLE> createTemporary(const std::string& folder) {
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0;; ++attempt) {
      const std::string temp = folder + "~valtrove-" + std::to_string(::GetCurrentProcessId()) + "-" +
                               std::to_string(counter.fetch_add(1)) + ".tmp";
      const HANDLE file =
          ::CreateFileA(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) return {temp, file};
      const DWORD err = ::GetLastError();
      if (err == ERROR_FILE_EXISTS && attempt < 100) continue;
      fail(err);
    }
  }
};

}  // namespace

FileSystem& systemFileSystem() {
  static Win32FileSystem instance;
  return instance;
}

}  // namespace vs
