#pragma once
// An UpdaterWindow wired to the fakes, in a scratch program folder of its own; Timer1 ticks of
// the fake view reach the window's Timer1Timer, and the shared log carries fake times.

#include "updater/core/ini_profile.h"
#include "updater/core/updater_window.h"
#include "updater/tests/support/call_log.h"
#include "updater/tests/support/fake_view.h"
#include "updater/tests/support/recording_control.h"

#include <filesystem>
#include <string>

namespace qz::test {

// A fresh folder under the system's temporary folder, removed with its content at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

std::string readBytes(const std::string& path);
void writeBytes(const std::string& path, const std::string& bytes);

struct WindowHarness {
    WindowHarness();
    // The settings file of the program folder.
    std::string settingsFile() const { return folder.file("updater7304.ini"); }

    ScratchFolder folder;
    CallLog log;
    FakeView view{log};
    FakeDialog dialog{log};
    RecordingControl control{log};
    Profile& profile = portableProfile();
    UpdaterWindow window{view, dialog, control, profile};
};

} // namespace qz::test
