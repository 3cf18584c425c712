// Updater7304: puts new firmware into the QZ450 controller over a serial port.
#include "updater/win32/win32_updater_app.h"

#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    qz::win32::UpdaterApp app(instance);
    return app.run();
}
