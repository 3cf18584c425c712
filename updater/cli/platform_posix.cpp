// Linux and other POSIX systems: termios transport, signals, isatty.
#include "platform.h"

#include "interrupt.h"
#include "posix_serial_port.h"

#include <csignal>
#include <cstdio>
#include <unistd.h>

namespace qz::cli {

namespace {

extern "C" void onInterruptSignal(int) { raiseInterrupt(); }

class PosixPlatform final : public Platform {
public:
    void write(Stream stream, std::string_view text) override {
        std::FILE* file = stream == Stream::out ? stdout : stderr;
        std::fwrite(text.data(), 1, text.size(), file);
        std::fflush(file);
    }

    bool isTerminal(Stream stream) override {
        return ::isatty(stream == Stream::out ? STDOUT_FILENO : STDERR_FILENO) == 1;
    }

    std::optional<PortName> resolvePort(const std::string& port, std::string& error) override {
        if (port.empty()) {
            error = "PORT is empty";
            return std::nullopt;
        }
        return PortName{port, port, 1};
    }

    std::vector<std::string> listPorts() override { return listPosixSerialPorts(); }

    std::unique_ptr<SerialPort> makeSerialPort() override { return std::make_unique<PosixSerialPort>(); }

    void installInterruptHandlers() override {
        struct sigaction action {};
        action.sa_handler = onInterruptSignal;
        sigemptyset(&action.sa_mask);
        // The first signal stops the upload cleanly; a second one ends the program at once.
        action.sa_flags = SA_RESETHAND;
        for (const int signal : {SIGINT, SIGTERM, SIGHUP}) ::sigaction(signal, &action, nullptr);
        // A reader that goes away must not kill the tool before it has closed the port.
        std::signal(SIGPIPE, SIG_IGN);
    }
};

} // namespace

std::unique_ptr<Platform> makePlatform() { return std::make_unique<PosixPlatform>(); }

} // namespace qz::cli
