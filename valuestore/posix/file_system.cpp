// vs::FileSystem on POSIX: whole-file reads, saves through a temporary file renamed over the target.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

#include "valuestore/core/file_system.h"

namespace vs {
namespace {

int errorNumberOf(int err) {
    switch (err) {
    case ENOENT: return error::fileNotFound;
    case ENOTDIR: return error::pathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return error::permissionDenied;
    case ENOSPC:
    case EDQUOT:
    case EFBIG: return error::diskFull;
    case ENAMETOOLONG:
    case EINVAL:
    case EILSEQ: return error::badFileName;
    default: return error::pathFileAccessError;
    }
}

// The file error for errno `err`, naming the path and the system's reason.
[[noreturn]] void fail(int err, const std::string& path) {
    throw fileError(errorNumberOf(err), path, std::strerror(err));
}

std::string folderOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

bool isFolder(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    ~Descriptor() {
        if (fd_ >= 0) ::close(fd_);
    }
    int get() const { return fd_; }
    // Closes now, reporting the error a deferred write may surface only here.
    int close() {
        const int rc = ::close(fd_);
        fd_ = -1;
        return rc;
    }

private:
    int fd_;
};

// The path a save replaces: the target of a symbolic link, so that the link itself survives.
std::string resolveLink(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    if (char* real = ::realpath(path.c_str(), nullptr)) {
        std::string resolved(real);
        ::free(real);
        return resolved;
    }
    return path;
}

class PosixFileSystem final : public FileSystem {
public:
    bool namesSingleFile(const std::string& path) override { return mayNameSingleFile(path) && !isFolder(path); }

    std::optional<std::string> readFile(const std::string& path) override {
        Descriptor fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
        if (fd.get() < 0) {
            const int err = errno;
            if (err == ENOENT) {
                if (isFolder(folderOf(path))) return std::nullopt;
                throw fileError(error::pathNotFound, path, "the folder does not exist");
            }
            fail(err, path);
        }
        struct stat st {};
        if (::fstat(fd.get(), &st) != 0) fail(errno, path);
        if (S_ISDIR(st.st_mode)) fail(EISDIR, path);
        std::string content;
        char buffer[65536];
        for (;;) {
            const ssize_t n = ::read(fd.get(), buffer, sizeof buffer);
            if (n < 0) {
                if (errno == EINTR) continue;
                fail(errno, path);
            }
            if (n == 0) break;
            content.append(buffer, static_cast<std::size_t>(n));
        }
        return content;
    }

    void replaceFile(const std::string& requested, std::string_view content) override {
        const std::string path = resolveLink(requested);
        const std::string folder = folderOf(path);
        const auto [temp, fd] = createTemporary(folder, requested);
        try {
            Descriptor file(fd);
            struct stat old {};
            if (::stat(path.c_str(), &old) == 0) ::fchmod(file.get(), old.st_mode & 07777); // keep the file's mode
            writeAll(file.get(), content, requested);
            if (::fsync(file.get()) != 0) fail(errno, requested);
            if (file.close() != 0) fail(errno, requested);
            if (::rename(temp.c_str(), path.c_str()) != 0) fail(errno, requested);
        } catch (...) {
            ::unlink(temp.c_str());
            throw;
        }
        // Make the rename itself durable.
        Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
        if (dir.get() >= 0) ::fsync(dir.get());
    }

    void removeFile(const std::string& path) override {
        if (::unlink(path.c_str()) != 0) fail(errno, path);
    }

private:
    // A new temporary file in the folder; an error names the data file it is for.
    static std::pair<std::string, int> createTemporary(const std::string& folder, const std::string& path) {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0;; ++attempt) {
            const std::string temp = folder + "/.valtrove-" + std::to_string(::getpid()) + "-" +
                                     std::to_string(counter.fetch_add(1)) + ".tmp";
            const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) return {temp, fd};
            const int err = errno;
            if (err == EEXIST && attempt < 100) continue;
            if (err == ENOENT) throw fileError(error::pathNotFound, path, "the folder does not exist");
            fail(err, path);
        }
    }

    static void writeAll(int fd, std::string_view content, const std::string& path) {
        while (!content.empty()) {
            const ssize_t n = ::write(fd, content.data(), content.size());
            if (n < 0) {
                if (errno == EINTR) continue;
                fail(errno, path);
            }
            content.remove_prefix(static_cast<std::size_t>(n));
        }
    }
};

} // namespace

FileSystem& systemFileSystem() {
    static PosixFileSystem instance;
    return instance;
}

} // namespace vs
