// Windows: Win32 communications transport, console control events, console detection and
// the COM port names the window's port list uses ("COM3", or just "3").
#include "platform.h"

#include "interrupt.h"
#include "port_names.h"
#include "serial_transfer_control.h"
#include "win32_serial_port.h"

#include <atomic>
#include <cstdio>
#include <windows.h>

namespace qz::cli {

namespace {

std::atomic<int> controlEvents{0};

BOOL WINAPI onConsoleControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
        // The first Ctrl-C stops the upload cleanly; a second one ends the program at once.
        if (controlEvents.fetch_add(1) > 0) return FALSE;
        raiseInterrupt();
        return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
        // The process ends when this handler returns: give the upload a moment to cancel the
        // transfer and close the port.
        raiseInterrupt();
        Sleep(1500);
        return TRUE;
    default:
        return FALSE;
    }
}

class Win32Platform final : public Platform {
public:
    void write(Stream stream, std::string_view text) override {
        std::FILE* file = stream == Stream::out ? stdout : stderr;
        std::fwrite(text.data(), 1, text.size(), file);
        std::fflush(file);
    }

    // A console, not a file, a pipe or the NUL device (which _isatty takes for a terminal).
    bool isTerminal(Stream stream) override {
        DWORD mode = 0;
        return GetConsoleMode(GetStdHandle(stream == Stream::out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE), &mode) != 0;
    }

    std::optional<PortName> resolvePort(const std::string& port, std::string& error) override {
        if (const int number = comPortNumber(port)) {
            return PortName{win32ComDeviceName(number), "COM" + std::to_string(number),
                            static_cast<std::int16_t>(number)};
        }
        // Other device names ("\\.\CNCA0") are opened as given.
        if (port.rfind("\\\\.\\", 0) == 0 && port.size() > 4) return PortName{port, port.substr(4), 1};
        error = "PORT must be COM1 to COM255 (or 1 to 255), not '" + port + "'";
        return std::nullopt;
    }

    std::vector<std::string> listPorts() override { return listWin32SerialPorts(); }

    std::unique_ptr<SerialPort> makeSerialPort() override { return std::make_unique<Win32SerialPort>(); }

    void installInterruptHandlers() override { SetConsoleCtrlHandler(onConsoleControl, TRUE); }
};

} // namespace

std::unique_ptr<Platform> makePlatform() { return std::make_unique<Win32Platform>(); }

} // namespace qz::cli
