// Linux and other POSIX systems: termios transport, signals, isatty.
#include "updater/cli/stdio_platform.h"

#include "updater/cli/interrupt.h"
#include "updater/posix/posix_serial_port.h"

#include <csignal>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace qz::cli {

namespace {

extern "C" void onInterruptSignal(int) { raiseInterrupt(); }

class PosixPlatform final : public StdioPlatform {
public:
    bool isTerminal(Stream stream) override {
        return ::isatty(stream == Stream::out ? STDOUT_FILENO : STDERR_FILENO) == 1;
    }

    std::optional<PortName> resolvePort(const std::string& port, std::string& error) override {
        if (port.empty()) {
            error = "PORT is empty";
            return std::nullopt;
        }
        PortName name{port, port, 1, {}};
        // A device is known by its number, whatever path or link leads to it; anything else
        // by its path with the links that exist resolved.
        struct stat info {};
        if (::stat(port.c_str(), &info) == 0 && S_ISCHR(info.st_mode)) {
            name.identity = "device " + std::to_string(info.st_rdev);
        } else {
            std::error_code ec;
            const auto path = std::filesystem::weakly_canonical(std::filesystem::absolute(port, ec), ec);
            name.identity = ec ? port : path.string();
        }
        return name;
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
