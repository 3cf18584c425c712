#include "updater/tests/support/pty_program.h"

#if !defined(_WIN32)

#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace qz::test {

PtyProgram::PtyProgram(std::vector<std::string> argv, const std::string& workingDirectory, const std::string& errorLog,
                       double bytesPerSecond)
    : bytesPerSecond_(bytesPerSecond) {
    int sockets[2];
    if (!pty_.ok() || ::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, sockets) != 0) return;
    socket_.reset(sockets[0]);
    const UniqueFd programEnd(sockets[1]);
    int stop[2];
    if (::pipe2(stop, O_CLOEXEC) != 0) return;
    stopRead_.reset(stop[0]);
    stopWrite_.reset(stop[1]);
    child_ = ::fork();
    if (child_ < 0) return;
    if (child_ == 0) {
        ::dup2(programEnd.get(), 0);
        ::dup2(programEnd.get(), 1);
        const int log = ::open(errorLog.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (log >= 0) ::dup2(log, 2);
        if (::chdir(workingDirectory.c_str()) != 0) ::_exit(126);
        std::vector<char*> args;
        for (std::string& arg : argv) args.push_back(arg.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    toProgram_ = std::thread([this] { relay(pty_.master(), socket_.get()); });
    fromProgram_ = std::thread([this] { relay(socket_.get(), pty_.master()); });
}

PtyProgram::~PtyProgram() {
    if (child_ > 0) {
        ::kill(child_, SIGKILL);
        wait();
    }
    if (stopWrite_.valid()) {
        const char stop = 1;
        (void)!::write(stopWrite_.get(), &stop, 1);
    }
    if (toProgram_.joinable()) toProgram_.join();
    if (fromProgram_.joinable()) fromProgram_.join();
}

int PtyProgram::wait() {
    if (child_ <= 0) return -1;
    int status = 0;
    while (::waitpid(child_, &status, 0) < 0 && errno == EINTR) {}
    child_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Copies from -> to until the stop pipe is written. With pacing, each chunk is handed on when
// its last byte would have left a UART at the byte rate, the line being busy with earlier
// chunks first. The pty (master and a slave descriptor) stays open throughout, so the port
// under test never sees a hang-up, whatever the program does.
void PtyProgram::relay(int from, int to) {
    using Clock = std::chrono::steady_clock;
    Clock::time_point lineFree = Clock::now();
    char buffer[4096];
    for (;;) {
        pollfd waiters[2] = {{from, POLLIN, 0}, {stopRead_.get(), POLLIN, 0}};
        if (::poll(waiters, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (waiters[1].revents) return;
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        if (got <= 0) return; // the program ended
        if (bytesPerSecond_ > 0) {
            const auto onLine = std::chrono::duration_cast<Clock::duration>(
                std::chrono::duration<double>(static_cast<double>(got) / bytesPerSecond_));
            lineFree = std::max(lineFree, Clock::now()) + onLine;
            std::this_thread::sleep_until(lineFree);
        }
        for (ssize_t done = 0; done < got;) {
            // To the program's socket without SIGPIPE once it has ended.
            const ssize_t written = to == socket_.get()
                                        ? ::send(to, buffer + done, static_cast<std::size_t>(got - done), MSG_NOSIGNAL)
                                        : ::write(to, buffer + done, static_cast<std::size_t>(got - done));
            if (written < 0 && errno == EINTR) continue;
            if (written <= 0) return;
            done += written;
        }
    }
}

} // namespace qz::test

#endif
