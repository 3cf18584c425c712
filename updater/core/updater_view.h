#pragma once
// What the updater's window logic needs from a window: its controls by id, the window frame,
// message boxes, the message pump, the timer, program facts and the end of the process.
// The Win32 shell implements UpdaterView and FileDialog over real controls; tests implement
// them with fakes. The logic (UpdaterWindow) calls the view; the shell forwards the window's
// events to the logic's handlers.
//
// Text is passed as bytes in the system's ANSI code page (the settings file holds ANSI text
// too); the shell converts to and from the window's own character set.
//
// Every operation that can fail says so (false / empty optional); the logic then skips the
// step, as the window's handlers run in continue-on-failure mode.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

// The window's controls. BravlinkCRC2 is the area the serial transfer control draws itself in.
enum class ControlId {
    FileText,
    Browse,
    Label1,
    ComPortSet,
    UpLoad,
    Status,
    Exit,
    Frame1,
    Frame2,
    BravlinkCRC2,
};

enum class ControlKind {
    Frame,        // group box, drawn behind the controls lying inside it
    Label,        // static text
    ComboBox,     // drop-down combo box: editable text field with a list below
    TextBox,      // single-line editable text box
    Button,       // push button
    TransferArea, // child window of the serial transfer control
};

// One control of the window as created: position and size in twips relative to the client
// area (15 twips per pixel at 96 DPI). An ampersand in a caption marks the access key.
// The lowest tab order gets the focus when the window opens.
struct ControlLayout {
    ControlId id;
    std::string_view name;
    ControlKind kind;
    std::string_view caption;
    int left;
    int top;
    int width;
    int height;
    int tabOrder;
};

inline constexpr int kClientWidthTwips = 7860;
inline constexpr int kClientHeightTwips = 6405;
inline constexpr std::string_view kDesignTitle = "Velkor 7304 Updater V2.5";
inline constexpr int kTimer1IntervalMs = 1000;
// Given to the file dialog once, when the window is created.
inline constexpr std::string_view kDialogDefaultExtension = ".bin";

// All controls enabled and visible at creation; listed in creation order (frames first, so
// they lie behind the controls inside them).
inline constexpr std::array<ControlLayout, 10> kWindowLayout{{
    {ControlId::Frame1, "Frame1", ControlKind::Frame, "Com Port", 360, 120, 1095, 735, 8},
    {ControlId::Label1, "Label1", ControlKind::Label, "Com Port", 360, 120, 735, 255, 4},
    {ControlId::ComPortSet, "ComPortSet", ControlKind::ComboBox, "", 600, 360, 735, 315, 3},
    {ControlId::Frame2, "Frame2", ControlKind::Frame, "File To Upload", 120, 960, 7575, 1815, 9},
    {ControlId::FileText, "FileText", ControlKind::TextBox, "", 360, 1320, 6015, 405, 1},
    {ControlId::Browse, "Browse", ControlKind::Button, "&Browse", 6600, 1080, 975, 375, 0},
    {ControlId::UpLoad, "UpLoad", ControlKind::Button, "&Wait For Controller Then Upload", 2520, 1920, 2775, 615, 5},
    {ControlId::Status, "Status", ControlKind::Label, "Status:  ", 2160, 2880, 4575, 255, 2},
    {ControlId::BravlinkCRC2, "BravlinkCRC2", ControlKind::TransferArea, "", 1560, 3240, 4815, 2415, 7},
    {ControlId::Exit, "Exit", ControlKind::Button, "E&xit", 3120, 5820, 1695, 495, 6},
}};

constexpr const ControlLayout& layoutOf(ControlId id) {
    for (const auto& c : kWindowLayout) {
        if (c.id == id) return c;
    }
    return kWindowLayout[0]; // not reached: every id has a row
}

// Outer frame of the window in screen coordinates, twips.
enum class WindowMetric { Width, Height, Top, Left };

// A rectangle on the screen in twips.
struct TwipsRect {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    friend bool operator==(const TwipsRect&, const TwipsRect&) = default;
};

// Window state values as stored in the settings file.
inline constexpr std::int16_t kWindowNormal = 0;
inline constexpr std::int16_t kWindowMinimised = 1;
inline constexpr std::int16_t kWindowMaximised = 2;

enum class MessageIcon { None, Exclamation, Question };
enum class MessageButtons { Ok, OkCancel };
enum class MessageResult { Ok, Cancel };

// Facts the platform knows about the program (the shell reads the version resource).
struct ProgramFacts {
    std::string folder; // folder holding the program, no trailing separator, as text
    // The same folder as the file calls take it, whatever characters its name holds; when
    // empty, `folder` is used.
    std::filesystem::path folderPath;
    char pathSeparator = '\\'; // joins folder and file name
    int versionMajor = 0;
    int versionMinor = 0;
    int versionRevision = 0;
    std::string applicationTitle = "Updater7304"; // title of message boxes that give none
};

class UpdaterView {
public:
    virtual ~UpdaterView() = default;

    // Caption of a button, label or frame; text of the text box or of the combo box's field.
    virtual bool setText(ControlId id, std::string_view text) = 0;
    virtual std::optional<std::string> text(ControlId id) const = 0;
    virtual bool setEnabled(ControlId id, bool enabled) = 0;
    virtual bool setVisible(ControlId id, bool visible) = 0;

    // List of the combo box (ComPortSet).
    virtual bool addComboItem(ControlId id, std::string_view item) = 0;
    virtual std::optional<int> comboCount(ControlId id) const = 0;

    // Window title.
    virtual bool setTitle(std::string_view title) = 0;
    virtual std::optional<std::string> title() const = 0;

    // Outer geometry in twips and window state (kWindowNormal, kWindowMinimised,
    // kWindowMaximised). Setters may refuse a value (false); the window is then unchanged.
    virtual bool setMetric(WindowMetric metric, float twips) = 0;
    virtual std::optional<float> metric(WindowMetric metric) const = 0;
    virtual bool setWindowState(std::int16_t state) = 0;
    virtual std::optional<std::int16_t> windowState() const = 0;
    // Work area (the screen less task bars) of the monitor nearest to `around`; empty when the
    // platform cannot tell.
    virtual std::optional<TwipsRect> workArea(const TwipsRect& around) const = 0;

    // Modal message box; returns when the user closed it. With MessageButtons::Ok the result
    // is MessageResult::Ok.
    virtual MessageResult messageBox(std::string_view text, std::string_view title, MessageIcon icon,
                                     MessageButtons buttons) = 0;

    // Process every pending window message (clicks, timer ticks, paints), then return.
    // Handlers of delivered events run inside this call.
    virtual void pumpMessages() = 0;
    // Block the thread; no message is handled meanwhile.
    virtual void sleep(std::uint32_t milliseconds) = 0;
    // Timer1 (interval kTimer1IntervalMs): while enabled, its ticks are delivered by the pump.
    virtual void setTimer1Enabled(bool enabled) = 0;

    // End the process at once: no further handler runs and nothing returns to the caller.
    // The shell calls ExitProcess; a test fake throws an exception of its own type (not
    // derived from std::exception, so that no handler of the logic can swallow it).
    [[noreturn]] virtual void endProcess() = 0;

    virtual ProgramFacts programFacts() const = 0;
};

// The open-file dialog (CommonDialog1). Each operation may fail (false / empty optional).
class FileDialog {
public:
    virtual ~FileDialog() = default;
    virtual bool setTitle(std::string_view title) = 0;
    // Filter text "Description|pattern" pairs joined by '|', e.g. "Update Files (*.bin)|*.bin".
    virtual bool setFilter(std::string_view filter) = 0;
    virtual bool setDefaultExtension(std::string_view extension) = 0; // ".bin"
    virtual bool setFileName(std::string_view name) = 0;
    // Shows the modal open-file dialog; returns when it is closed. A cancel by the user may
    // be reported as false or true: the caller reads fileName() either way.
    virtual bool showOpen() = 0;
    // The name the dialog holds now (the chosen file, or the preset / empty after a cancel).
    virtual std::optional<std::string> fileName() const = 0;
};

} // namespace qz
