#pragma once
// Updater7304 put together: the window VelkorUpdater with its controls, the open-file dialog,
// the serial transfer control over the Win32 serial port (drawn in its area of the window) and
// the private-profile settings, all driven by the window logic UpdaterWindow.

#include "serial_transfer_control.h"
#include "updater_window.h"
#include "win32_drawn_control.h"
#include "win32_file_dialog.h"
#include "win32_main_window.h"
#include "win32_profile.h"
#include "win32_serial_port.h"

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
