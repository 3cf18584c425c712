#include "updater/win32/win32_updater_app.h"

#include "common/win32/text.h"

namespace qz::win32 {

UpdaterApp::UpdaterApp(HINSTANCE instance)
    : window_(instance), serial_(port_, [](int port) { return win32ComDeviceName(port); }),
      control_(serial_, window_.transferArea(), [this] { window_.pumpMessages(); }),
      logic_(window_, dialog_, control_, profile_) {}

int UpdaterApp::run() {
    if (!window_.create()) {
        MessageBoxW(nullptr, L"The window could not be created.",
                    widen(window_.programFacts().applicationTitle).c_str(), MB_OK | MB_ICONERROR);
        return 1;
    }
    dialog_.setOwner(window_.hwnd());
    control_.refresh();

    WindowEvents events;
    events.unload = [this] { logic_.Unload(); };
    events.exitClick = [this] { logic_.ExitClick(); };
    events.browseClick = [this] { logic_.BrowseClick(); };
    events.upLoadClick = [this] { logic_.UpLoadClick(); };
    events.comPortSetClick = [this](int index) { logic_.ComPortSetClick(index); };
    events.timer1Tick = [this] { logic_.Timer1Timer(); };
    window_.setEvents(std::move(events));

    logic_.Load();
    window_.show();
    return window_.run();
}

} // namespace qz::win32
