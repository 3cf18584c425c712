#pragma once
// Owns one POSIX file descriptor and closes it; moves, never copies. POSIX only.

#if !defined(_WIN32)

#include <unistd.h>
#include <utility>

namespace qz::test {

class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(other.release()) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept {
        reset(other.release());
        return *this;
    }
    ~UniqueFd() { reset(); }

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    // Hands the descriptor over; this owner no longer closes it.
    int release() { return std::exchange(fd_, -1); }
    // Closes the descriptor held (if any) and takes `fd`.
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

private:
    int fd_ = -1;
};

} // namespace qz::test

#endif
