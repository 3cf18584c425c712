// Windows: Win32 communications transport, console control events, console detection and
// the COM port names the window's port list uses ("COM3", or just "3").
#include "updater/cli/stdio_platform.h"

#include "updater/cli/interrupt.h"
#include "updater/cli/port_names.h"
#include "updater/core/serial_transfer_control.h"
#include "updater/win32/win32_serial_port.h"

#include <windows.h>
#include <atomic>
#include <cctype>

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
    default: return FALSE;
    }
}

class Win32Platform final : public StdioPlatform {
public:
    // A console, not a file, a pipe or the NUL device (which _isatty takes for a terminal).
    // Its escape sequences are turned on: several ports' lines are redrawn with them.
    bool isTerminal(Stream stream) override {
        const HANDLE console = GetStdHandle(stream == Stream::out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
        DWORD mode = 0;
        if (GetConsoleMode(console, &mode) == 0) return false;
        SetConsoleMode(console, mode | ENABLE_PROCESSED_OUTPUT | ENABLE_VIRTUAL_TERMINAL_PROCESSING);
        return true;
    }

    std::optional<PortName> resolvePort(const std::string& port, std::string& error) override {
        if (const int number = comPortNumber(port)) {
            const std::string label = "COM" + std::to_string(number);
            return PortName{win32ComDeviceName(number), label, static_cast<std::int16_t>(number), label};
        }
        // Other device names ("\\.\CNCA0") are opened as given; Windows ignores their case.
        if (port.rfind("\\\\.\\", 0) == 0 && port.size() > 4) {
            std::string identity = port;
            for (char& c : identity) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
            return PortName{port, port.substr(4), 1, identity};
        }
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
