#pragma once
// Updater7304 put together: the window VelkorUpdater with its controls, the open-file dialog,
// the serial transfer control over the Win32 serial port (drawn in its area of the window) and
// the private-profile settings, all driven by the window logic UpdaterWindow.

#include "updater/core/serial_transfer_control.h"
#include "updater/core/updater_window.h"
#include "updater/win32/win32_drawn_control.h"
#include "updater/win32/win32_file_dialog.h"
#include "updater/win32/win32_main_window.h"
#include "updater/win32/win32_profile.h"
#include "updater/win32/win32_serial_port.h"

#include <windows.h>

namespace qz::win32 {

class UpdaterApp {
public:
    explicit UpdaterApp(HINSTANCE instance);

    // Creates the window, runs the start-up sequence, shows the window and handles its events
    // until the process ends. Returns only if the window could not be created.
    int run();

private:
    MainWindow window_;
    OpenFileDialog dialog_;
    Win32SerialPort port_;
    SerialTransferControl serial_;
    DrawnTransferControl control_;
    Win32Profile profile_;
    UpdaterWindow logic_;
};

} // namespace qz::win32
