#pragma once
// Logic of the updater's window VelkorUpdater, apart from any window system: the start-up and
// shut-down sequences (the settings file read and written through the settings unit), the
// port list, the file selection, the Timer1 tick and the upload. The shell creates the view,
// the file dialog, the transfer control and the profile, constructs one UpdaterWindow over
// them, calls Load() before showing the window, and forwards each event to its handler:
//
//   window unload (close box, Alt+F4)  -> Unload()        click on Exit -> ExitClick()
//   click on UpLoad  -> UpLoadClick()  click on Browse -> BrowseClick()
//   a list item of ComPortSet chosen   -> ComPortSetClick(index of the item, from 0)
//   tick of Timer1   -> Timer1Timer()
//
// Handlers run in continue-on-failure mode: a step whose view, dialog, control or file
// operation fails is skipped and the handler goes on.

#include "updater/core/profile.h"
#include "updater/core/settings.h"
#include "updater/core/transfer_control.h"
#include "updater/core/updater_view.h"
#include "updater/core/upload_sequence.h"

#include <string>
#include <string_view>

namespace qz {

inline constexpr std::string_view kTitlePrefix = "Velkor 7304 Updater Version ";
inline constexpr std::string_view kDialogTitle = "Select File to Upload";
inline constexpr std::string_view kDialogFilter = "Update Files (*.bin)|*.bin";
inline constexpr std::string_view kNotBinaryQuestion =
    "You do not have a binary file loaded. Would you like to try again?";

// "An error occured while loading file " + path + "." + " The default settings will be loaded instead."
std::string loadFailureMessage(std::string_view path);
// "An error occured while saving file " + path
std::string saveFailureMessage(std::string_view path);

// True when the path contains "bin" in any letter case, anywhere, whatever its length.
bool pathLooksBinary(std::string_view path);

// Where a window saved as `saved` comes back: inside `workArea`, keeping the saved size when it
// fits and shrinking it to the work area when it does not. A size below a quarter of the design
// size in either direction (what a minimised window reports) is no size anyone chose: the
// design size replaces it.
TwipsRect placeInWorkArea(const TwipsRect& saved, const TwipsRect& workArea, float designWidth, float designHeight);

// The state fields ComPort, FileToUpLoad, SerialTimer, PortError are public members
// (inherited from UpdaterState).
class UpdaterWindow : public UpdaterState, private UploadHost {
public:
    // Gives the dialog its default extension ".bin" (once, with the window).
    UpdaterWindow(UpdaterView& view, FileDialog& dialog, TransferControl& control, Profile& profile);

    // Start-up sequence (the window's load event): geometry and state from the settings,
    // "Status: Idle", port and file, title, port list, Timer1 off, control prepared and shown.
    void Load();
    // Shut-down sequence: close the port, save records and keys, end the process.
    [[noreturn]] void Unload();
    [[noreturn]] void ExitClick() { Unload(); }
    // The upload sequence; returns its outcome (the window shows it by itself).
    UploadResult UpLoadClick();
    // File selection with the "bin" test and the retry question.
    void BrowseClick();
    // ComPort := index + 1. Typing in the combo's text field raises nothing here.
    void ComPortSetClick(int index);
    void Timer1Timer() { tickSerialTimer(*this); }

    // Records of the settings file (port, quoted path), read and written by the settings unit;
    // a failure is shown in a message box.
    void LoadPortAndFile(const SettingsFile& file);
    void SavePortAndFile(const SettingsFile& file);

    // The settings file: program folder, separator, "updater7304.ini".
    SettingsFile settingsFile() const;
    // Its full path as text, as the messages show it.
    std::string settingsPath() const { return settingsFile().shown; }

private:
    void placeOnScreen(WindowSettings& saved) const;

    // UploadHost over the view.
    void showStatus(std::string_view text) override;
    void showMessage(std::string_view text, std::string_view title) override;
    void pumpMessages() override;
    void sleep(std::uint32_t milliseconds) override;
    void setTimerEnabled(bool enabled) override;
    void setInputEnabled(ControlId control, bool enabled) override;

    UpdaterView& view_;
    FileDialog& dialog_;
    TransferControl& control_;
    Profile& profile_;
};

} // namespace qz
