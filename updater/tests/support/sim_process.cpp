#include "updater/tests/support/sim_process.h"

#ifndef _WIN32

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace qz::test {

namespace {

using Clock = std::chrono::steady_clock;

// Spawns argv with stdout on a pipe (stderr shared with the test); gives the read end.
pid_t spawnWithPipe(const std::vector<std::string>& args, UniqueFd& readEnd) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return -1;
    UniqueFd reading(fds[0]);
    const UniqueFd writing(fds[1]);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, writing.get(), 1);
    std::vector<char*> argv;
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    if (pid >= 0) readEnd = std::move(reading);
    return pid;
}

} // namespace

std::string SimProcess::executable() { return std::string(QZ_BUILD_DIR) + "/qz450sim"; }

SimProcess::SimProcess(const std::vector<std::string>& args) {
    std::vector<std::string> argv{executable()};
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = spawnWithPipe(argv, out_);
    if (pid_ < 0) return;
    if (auto line = nextLine(std::chrono::seconds(10)); line && line->starts_with("PTY ")) pty_ = line->substr(4);
}

SimProcess::~SimProcess() {
    if (pid_ > 0 && !status_) stop(SIGKILL);
}

std::optional<std::string> SimProcess::nextLine(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
        if (const auto end = buffer_.find('\n'); end != std::string::npos) {
            std::string line = buffer_.substr(0, end);
            buffer_.erase(0, end + 1);
            return line;
        }
        if (!out_.valid()) return std::nullopt;
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return std::nullopt;
        pollfd fd{out_.get(), POLLIN, 0};
        if (poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
        char chunk[4096];
        const ssize_t n = read(out_.get(), chunk, sizeof chunk);
        if (n <= 0) {
            out_.reset();
            continue;
        }
        buffer_.append(chunk, static_cast<std::size_t>(n));
    }
}

std::optional<int> SimProcess::wait(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (pid_ > 0 && !status_) {
        int status = 0;
        const pid_t done = waitpid(pid_, &status, WNOHANG);
        if (done == pid_) {
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            break;
        }
        if (Clock::now() >= deadline) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return status_;
}

int SimProcess::stop(int signal) {
    if (pid_ <= 0) return -1;
    if (!status_) kill(pid_, signal);
    if (auto status = wait(std::chrono::seconds(5))) return *status;
    kill(pid_, SIGKILL);
    return wait(std::chrono::seconds(5)).value_or(-1);
}

std::optional<std::string> jsonField(const std::string& json, const std::string& name) {
    const std::string key = "\"" + name + "\":";
    const auto at = json.find(key);
    if (at == std::string::npos) return std::nullopt;
    const std::size_t begin = at + key.size();
    if (begin >= json.size()) return std::nullopt;
    if (json[begin] == '"') {
        std::string value;
        for (std::size_t i = begin + 1; i < json.size() && json[i] != '"'; ++i) {
            if (json[i] == '\\' && i + 1 < json.size()) ++i;
            value += json[i];
        }
        return value;
    }
    if (json[begin] == '[') return json.substr(begin + 1, json.find(']', begin) - begin - 1);
    return json.substr(begin, json.find_first_of(",}", begin) - begin);
}

std::string normalisedTrace(const std::string& tracePath, long upload) {
    std::vector<std::string> argv{SimProcess::executable(), "--normalise", tracePath};
    if (upload > 0) {
        argv.push_back("--upload");
        argv.push_back(std::to_string(upload));
    }
    UniqueFd out;
    const pid_t pid = spawnWithPipe(argv, out);
    if (pid < 0) return {};
    std::string text;
    char chunk[4096];
    for (ssize_t n; (n = read(out.get(), chunk, sizeof chunk)) != 0;) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) break;
        text.append(chunk, static_cast<std::size_t>(n));
    }
    out.reset();
    waitpid(pid, nullptr, 0);
    return text;
}

} // namespace qz::test

#endif
