#pragma once
// The updater's one window, VelkorUpdater, as a thin Win32 shell: it creates the standard
// controls from the layout table, implements UpdaterView over them, and forwards the window's
// events to handlers that the program wires to the window logic. No sequence logic lives here.

#include "common/win32/handles.h"
#include "common/win32/window.h"
#include "updater/core/updater_view.h"
#include "updater/win32/win32_transfer_area.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

namespace qz::win32 {

// Events of the window, each delivered on the window's thread.
struct WindowEvents {
    std::function<void()> unload;             // close box, system menu, Alt+F4, session end
    std::function<void()> exitClick;          // Exit
    std::function<void()> browseClick;        // Browse
    std::function<void()> upLoadClick;        // UpLoad
    std::function<void(int)> comPortSetClick; // an item of ComPortSet picked: its position
    std::function<void()> timer1Tick;         // Timer1, every kTimer1IntervalMs while enabled
};

inline constexpr const wchar_t* kMainWindowClass = L"VelkorUpdater";

// How a frame draws its caption.
struct FrameLook {
    HWND coveringLabel = nullptr; // label with the same text on the frame's corner, if any
};
inline constexpr int kTwipsPerPixel = 15;

// Twips to whole pixels, rounded to the nearest.
int twipsToPixels(float twips);

class MainWindow final : public UpdaterView, public Window<MainWindow> {
public:
    explicit MainWindow(HINSTANCE instance);
    ~MainWindow() override;
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window with its controls at their design values; the window stays hidden
    // until show(). False when the system refused to create it.
    bool create();
    void setEvents(WindowEvents events) { events_ = std::move(events); }

    // Shows the window in the state chosen by setWindowState and gives Browse the focus.
    void show();
    // Runs the message loop until the window is destroyed; returns the exit code.
    int run();

    HWND control(ControlId id) const;
    TransferArea& transferArea() { return transferArea_; }

    // UpdaterView
    bool setText(ControlId id, std::string_view text) override;
    std::optional<std::string> text(ControlId id) const override;
    bool setEnabled(ControlId id, bool enabled) override;
    bool setVisible(ControlId id, bool visible) override;
    bool addComboItem(ControlId id, std::string_view item) override;
    std::optional<int> comboCount(ControlId id) const override;
    bool setTitle(std::string_view title) override;
    std::optional<std::string> title() const override;
    bool setMetric(WindowMetric metric, float twips) override;
    std::optional<float> metric(WindowMetric metric) const override;
    bool setWindowState(std::int16_t state) override;
    std::optional<std::int16_t> windowState() const override;
    std::optional<TwipsRect> workArea(const TwipsRect& around) const override;
    MessageResult messageBox(std::string_view text, std::string_view title, MessageIcon icon,
                             MessageButtons buttons) override;
    void pumpMessages() override;
    void sleep(std::uint32_t milliseconds) override;
    void setTimer1Enabled(bool enabled) override;
    [[noreturn]] void endProcess() override;
    ProgramFacts programFacts() const override;

private:
    friend class Window<MainWindow>;
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void onCommand(int id, int code);
    void onTimer(UINT_PTR id);
    bool onActivate(bool active);
    void onSetFocus();
    void onClose();
    void onEndSession(bool ending);
    void onDestroy();
    // The control that had the focus when the window was left, while it can take it back.
    HWND focusToRestore() const;

    bool registerWindowClass();
    bool createControls();
    HWND createControl(const ControlLayout& layout);
    void subclassFrames();
    void dispatch(MSG& msg);
    static void call(const std::function<void()>& handler);

    HINSTANCE instance_;
    UniqueFont font_;
    UniqueIcon iconLarge_;
    UniqueIcon iconSmall_;
    std::array<HWND, kWindowLayout.size()> controls_{};
    TransferArea transferArea_;
    WindowEvents events_;
    std::int16_t pendingState_ = kWindowNormal; // state to show in, while hidden
    bool shown_ = false;
    bool timerEnabled_ = false;
    HWND lastFocus_ = nullptr; // focus to give back when the window is activated again
    std::vector<const ControlLayout*> frames_;
    std::array<FrameLook, kWindowLayout.size()> frameLooks_{};
};

} // namespace qz::win32
