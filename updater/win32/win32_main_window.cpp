#include "updater/win32/win32_main_window.h"

#include "common/win32/handles.h"
#include "common/win32/text.h"
#include "updater/win32/resource.h"
#include "updater/win32/win32_program_facts.h"

#include <commctrl.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace qz::win32 {

namespace {

constexpr UINT_PTR kTimer1Id = 1;
// Control ids start above IDOK / IDCANCEL, which the dialog keyboard handling sends on
// Enter and Escape.
constexpr int kFirstControlId = 100;
// Rows shown by the open list of the port combo box.
constexpr int kComboListRows = 8;

std::size_t indexOf(ControlId id) {
    for (std::size_t i = 0; i < kWindowLayout.size(); ++i) {
        if (kWindowLayout[i].id == id) return i;
    }
    return 0;
}

int commandIdOf(ControlId id) { return kFirstControlId + static_cast<int>(indexOf(id)); }

std::wstring windowText(HWND hwnd) {
    const int length = GetWindowTextLengthW(hwnd);
    std::wstring text(static_cast<std::size_t>(std::max(length, 0)) + 1, L'\0');
    const int n = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(std::max(n, 0)));
    return text;
}

// The brush the window paints a frame's background with (its answer to WM_CTLCOLORSTATIC), or
// the button face.
HBRUSH frameBackground(HWND frame, HDC dc) {
    const auto brush = reinterpret_cast<HBRUSH>(SendMessageW(
        GetParent(frame), WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(frame)));
    return brush ? brush : GetSysColorBrush(COLOR_BTNFACE);
}

// One frame painted: its background, its etched border, and its caption over the border's top
// edge.
struct FramePainter {
    HWND frame;
    HDC dc;
    const FrameLook* look;
    HBRUSH background = nullptr;
    RECT client{};
    TEXTMETRICW metrics{};

    void paint() {
        background = frameBackground(frame, dc);
        GetClientRect(frame, &client);
        FillRect(dc, &client, background);
        SelectedObject font(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(frame, WM_GETFONT, 0, 0)));
        GetTextMetricsW(dc, &metrics);
        RECT border = client;
        border.top += metrics.tmHeight / 2;
        DrawEdge(dc, &border, EDGE_ETCHED, BF_RECT);
        const std::wstring caption = windowText(frame);
        if (!caption.empty()) drawCaption(caption);
    }

    // After a small indent, on a gap of background either side; under a label with the same
    // text, flush where the label draws it, and in the label's colours (it shows where the
    // label's text ends).
    void drawCaption(const std::wstring& caption) const {
        RECT extent{0, 0, 0, 0};
        DrawTextW(dc, caption.c_str(), -1, &extent, DT_CALCRECT | DT_SINGLELINE);
        const bool flush = look && look->coveringLabel;
        const int indent = flush ? 0 : metrics.tmAveCharWidth;
        const int gap = flush ? 0 : 2;
        RECT text{client.left + indent, client.top, client.left + indent + extent.right + 2 * gap,
                  client.top + metrics.tmHeight};
        FillRect(dc, &text, background);
        text.left += gap;
        SetBkMode(dc, TRANSPARENT);
        const bool enabled = IsWindowEnabled(flush ? look->coveringLabel : frame);
        SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
        DrawTextW(dc, caption.c_str(), -1, &text, DT_LEFT | DT_TOP | DT_SINGLELINE);
    }
};

// Frames are painted here rather than by the group box itself, so that a caption that lies
// under a label bearing the same text (Label1 over Frame1) is drawn exactly where the label
// draws its text: the two then read as one caption, whatever the font's width.
LRESULT CALLBACK framePaintProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    const auto* look = reinterpret_cast<const FrameLook*>(data);
    switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
        PaintContext paint(hwnd);
        FramePainter{hwnd, paint.dc(), look}.paint();
        return 0;
    }
    case WM_PRINTCLIENT: FramePainter{hwnd, reinterpret_cast<HDC>(wParam), look}.paint(); return 0;
    case WM_SETTEXT:
    case WM_ENABLE: {
        const LRESULT r = DefSubclassProc(hwnd, message, wParam, lParam);
        InvalidateRect(hwnd, nullptr, TRUE);
        return r;
    }
    default: return DefSubclassProc(hwnd, message, wParam, lParam);
    }
}

HFONT createMessageFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
        return CreateFontIndirectW(&metrics.lfMessageFont);
    }
    return nullptr;
}

// The program's icon at the size of the system metrics given.
HICON loadProgramIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_UPDATER), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), 0));
}

// The layout in tab order.
std::vector<const ControlLayout*> layoutInTabOrder() {
    std::vector<const ControlLayout*> order;
    for (const auto& c : kWindowLayout) order.push_back(&c);
    std::stable_sort(order.begin(), order.end(),
                     [](const ControlLayout* a, const ControlLayout* b) { return a->tabOrder < b->tabOrder; });
    return order;
}

// Where a control lies in the window's client area, in pixels.
RECT boundsOf(const ControlLayout& c) {
    const int x = twipsToPixels(static_cast<float>(c.left));
    const int y = twipsToPixels(static_cast<float>(c.top));
    const int w = twipsToPixels(static_cast<float>(c.width));
    int h = twipsToPixels(static_cast<float>(c.height));
    // The height given is the closed box; the open list hangs below it.
    if (c.kind == ControlKind::ComboBox) h += kComboListRows * h;
    return {x, y, x + w, y + h};
}

// The window class and styles of a standard control (the transfer area is none).
struct StandardControl {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
};

StandardControl standardControlOf(const ControlLayout& c) {
    switch (c.kind) {
    case ControlKind::Frame: return {WC_BUTTONW, BS_GROUPBOX, 0};
    case ControlKind::Label:
        return {WC_STATICW, static_cast<DWORD>(SS_LEFTNOWORDWRAP | (c.id == ControlId::Status ? SS_NOPREFIX : 0)), 0};
    case ControlKind::ComboBox:
        return {WC_COMBOBOXW, CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | WS_GROUP, 0};
    case ControlKind::TextBox: return {WC_EDITW, ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP, WS_EX_CLIENTEDGE};
    case ControlKind::Button: return {WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP, 0};
    case ControlKind::TransferArea: break;
    }
    return {nullptr, 0, 0};
}

} // namespace

int twipsToPixels(float twips) { return static_cast<int>(std::lround(twips / static_cast<float>(kTwipsPerPixel))); }

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
    if (hwnd()) DestroyWindow(hwnd());
}

bool MainWindow::create() {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&init);
    if (!registerWindowClass()) return false;

    // Outer size for the design client area of 7860 x 6405 twips.
    const DWORD style = WS_OVERLAPPEDWINDOW;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT frame{0, 0, twipsToPixels(kClientWidthTwips), twipsToPixels(kClientHeightTwips)};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    if (!createWindow(exStyle, kMainWindowClass, widen(kDesignTitle).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                      frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance_))
        return false;
    font_.reset(createMessageFont());
    return createControls();
}

bool MainWindow::registerWindowClass() {
    iconLarge_.reset(loadProgramIcon(instance_, SM_CXICON, SM_CYICON));
    iconSmall_.reset(loadProgramIcon(instance_, SM_CXSMICON, SM_CYSMICON));
    WNDCLASSEXW windowClass{};
    windowClass.hInstance = instance_;
    windowClass.hIcon = iconLarge_.get();
    windowClass.hIconSm = iconSmall_.get();
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    windowClass.lpszClassName = kMainWindowClass;
    return registerClass(windowClass);
}

bool MainWindow::createControls() {
    // Created in tab order: the z-order then follows it, so Tab walks the controls in that
    // order, and the frames (last in the tab order) lie behind the controls inside them.
    for (const ControlLayout* c : layoutInTabOrder()) {
        HWND child = createControl(*c);
        if (!child) return false;
        if (font_) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_.get()), FALSE);
        controls_[indexOf(c->id)] = child;
        if (c->kind == ControlKind::Frame) frames_.push_back(c);
    }
    subclassFrames();
    return true;
}

HWND MainWindow::createControl(const ControlLayout& layout) {
    const RECT bounds = boundsOf(layout);
    const int id = commandIdOf(layout.id);
    if (layout.kind == ControlKind::TransferArea) {
        return transferArea_.create(hwnd(), id, bounds, instance_) ? transferArea_.hwnd() : nullptr;
    }
    const StandardControl standard = standardControlOf(layout);
    return CreateWindowExW(standard.exStyle, standard.className, widen(layout.caption).c_str(),
                           WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | standard.style, bounds.left, bounds.top,
                           bounds.right - bounds.left, bounds.bottom - bounds.top, hwnd(),
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
}

// Frames paint themselves; one whose caption lies under a label with the same text (created
// before it, in tab order) draws it where the label does.
void MainWindow::subclassFrames() {
    for (const ControlLayout* f : frames_) {
        auto& look = frameLooks_[indexOf(f->id)];
        for (const auto& o : kWindowLayout) {
            if (o.kind == ControlKind::Label && o.left == f->left && o.top == f->top && o.caption == f->caption) {
                look.coveringLabel = control(o.id);
            }
        }
        SetWindowSubclass(control(f->id), framePaintProc, 1, reinterpret_cast<DWORD_PTR>(&look));
    }
}

HWND MainWindow::control(ControlId id) const { return controls_[indexOf(id)]; }

void MainWindow::show() {
    int command = SW_SHOWNORMAL;
    if (pendingState_ == kWindowMinimised) command = SW_SHOWMINIMIZED;
    if (pendingState_ == kWindowMaximised) command = SW_SHOWMAXIMIZED;
    shown_ = true;
    ShowWindow(hwnd(), command);
    UpdateWindow(hwnd());
    // The lowest tab order gets the focus.
    const auto first =
        std::min_element(kWindowLayout.begin(), kWindowLayout.end(),
                         [](const ControlLayout& a, const ControlLayout& b) { return a.tabOrder < b.tabOrder; });
    lastFocus_ = control(first->id);
    SetFocus(lastFocus_);
}

int MainWindow::run() {
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) dispatch(msg);
    return static_cast<int>(msg.wParam);
}

void MainWindow::dispatch(MSG& msg) {
    // Tab, arrow keys and access keys (Alt+letter) as in a dialog. A character typed without
    // Alt goes to the focused control as it is: the dialog manager would take a bare letter for
    // an access key whenever a button has the focus (a bare "x" would end the program).
    if (msg.message != WM_CHAR && hwnd() && IsDialogMessageW(hwnd(), &msg)) return;
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
}

void MainWindow::pumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT) {
            // Leave it for the main loop.
            PostQuitMessage(static_cast<int>(msg.wParam));
            return;
        }
        dispatch(msg);
    }
}

void MainWindow::sleep(std::uint32_t milliseconds) { ::Sleep(milliseconds); }

void MainWindow::setTimer1Enabled(bool enabled) {
    if (enabled == timerEnabled_) return; // an enabled timer keeps its rhythm
    timerEnabled_ = enabled;
    if (enabled) {
        SetTimer(hwnd(), kTimer1Id, static_cast<UINT>(kTimer1IntervalMs), nullptr);
    } else {
        KillTimer(hwnd(), kTimer1Id);
    }
}

void MainWindow::endProcess() { ExitProcess(0); }

ProgramFacts MainWindow::programFacts() const { return currentProgramFacts(); }

bool MainWindow::setText(ControlId id, std::string_view text) {
    if (id == ControlId::BravlinkCRC2) return false;
    HWND child = control(id);
    return child && SetWindowTextW(child, widen(text).c_str());
}

std::optional<std::string> MainWindow::text(ControlId id) const {
    HWND child = control(id);
    if (!child || id == ControlId::BravlinkCRC2) return std::nullopt;
    return narrow(windowText(child));
}

bool MainWindow::setEnabled(ControlId id, bool enabled) {
    HWND child = control(id);
    if (!child) return false;
    if (!enabled) {
        // A disabled control cannot keep the keyboard: hand it to the next one in tab order.
        HWND focus = GetFocus();
        if (focus && (focus == child || IsChild(child, focus))) {
            HWND next = GetNextDlgTabItem(hwnd(), child, FALSE);
            SetFocus(next && next != child ? next : hwnd());
        }
    }
    EnableWindow(child, enabled ? TRUE : FALSE);
    // A frame caption drawn under this label follows its state.
    for (const ControlLayout* f : frames_) InvalidateRect(control(f->id), nullptr, TRUE);
    return true;
}

bool MainWindow::setVisible(ControlId id, bool visible) {
    HWND child = control(id);
    if (!child) return false;
    ShowWindow(child, visible ? SW_SHOWNA : SW_HIDE);
    return true;
}

bool MainWindow::addComboItem(ControlId id, std::string_view item) {
    if (layoutOf(id).kind != ControlKind::ComboBox) return false;
    const std::wstring wide = widen(item);
    const LRESULT r = SendMessageW(control(id), CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(wide.c_str()));
    return r != CB_ERR && r != CB_ERRSPACE;
}

std::optional<int> MainWindow::comboCount(ControlId id) const {
    if (layoutOf(id).kind != ControlKind::ComboBox) return std::nullopt;
    const LRESULT n = SendMessageW(control(id), CB_GETCOUNT, 0, 0);
    if (n == CB_ERR) return std::nullopt;
    return static_cast<int>(n);
}

bool MainWindow::setTitle(std::string_view title) { return SetWindowTextW(hwnd(), widen(title).c_str()) != FALSE; }

std::optional<std::string> MainWindow::title() const { return narrow(windowText(hwnd())); }

bool MainWindow::setMetric(WindowMetric which, float twips) {
    if (!std::isfinite(twips)) return false;
    // Far outside any screen: refused rather than wrapped.
    if (std::fabs(twips) > 32767.0f * kTwipsPerPixel) return false;
    if ((which == WindowMetric::Width || which == WindowMetric::Height) && twips < 0) return false;
    // A minimised or maximised window cannot be moved or sized.
    if (IsIconic(hwnd()) || IsZoomed(hwnd())) return false;
    RECT r;
    if (!GetWindowRect(hwnd(), &r)) return false;
    int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
    const int px = twipsToPixels(twips);
    switch (which) {
    case WindowMetric::Width: w = px; break;
    case WindowMetric::Height: h = px; break;
    case WindowMetric::Top: y = px; break;
    case WindowMetric::Left: x = px; break;
    }
    return SetWindowPos(hwnd(), nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

std::optional<float> MainWindow::metric(WindowMetric which) const {
    RECT r;
    if (!GetWindowRect(hwnd(), &r)) return std::nullopt;
    int px = 0;
    switch (which) {
    case WindowMetric::Width: px = r.right - r.left; break;
    case WindowMetric::Height: px = r.bottom - r.top; break;
    case WindowMetric::Top: px = r.top; break;
    case WindowMetric::Left: px = r.left; break;
    }
    return static_cast<float>(px) * static_cast<float>(kTwipsPerPixel);
}

bool MainWindow::setWindowState(std::int16_t state) {
    if (state != kWindowNormal && state != kWindowMinimised && state != kWindowMaximised) return false;
    if (!shown_) {
        pendingState_ = state;
        return true;
    }
    ShowWindow(hwnd(), state == kWindowMinimised ? SW_MINIMIZE : state == kWindowMaximised ? SW_MAXIMIZE : SW_RESTORE);
    return true;
}

std::optional<std::int16_t> MainWindow::windowState() const {
    if (!shown_) return pendingState_;
    if (IsIconic(hwnd())) return kWindowMinimised;
    if (IsZoomed(hwnd())) return kWindowMaximised;
    return kWindowNormal;
}

std::optional<TwipsRect> MainWindow::workArea(const TwipsRect& around) const {
    // Pixels, kept within what a RECT holds.
    const auto px = [](float twips) {
        constexpr float limit = 1e9f;
        return twipsToPixels(std::isfinite(twips) ? std::clamp(twips, -limit, limit) : 0.0f);
    };
    const RECT r{px(around.left), px(around.top), px(around.left + around.width), px(around.top + around.height)};
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!GetMonitorInfoW(MonitorFromRect(&r, MONITOR_DEFAULTTONEAREST), &info)) return std::nullopt;
    const RECT& w = info.rcWork;
    const auto twips = [](LONG pixels) { return static_cast<float>(pixels) * static_cast<float>(kTwipsPerPixel); };
    return TwipsRect{twips(w.left), twips(w.top), twips(w.right - w.left), twips(w.bottom - w.top)};
}

MessageResult MainWindow::messageBox(std::string_view text, std::string_view title, MessageIcon icon,
                                     MessageButtons buttons) {
    UINT type = buttons == MessageButtons::OkCancel ? MB_OKCANCEL : MB_OK;
    if (icon == MessageIcon::Exclamation) type |= MB_ICONEXCLAMATION;
    if (icon == MessageIcon::Question) type |= MB_ICONQUESTION;
    const int r = MessageBoxW(hwnd(), widen(text).c_str(), widen(title).c_str(), type);
    if (buttons == MessageButtons::Ok) return MessageResult::Ok;
    return r == IDOK ? MessageResult::Ok : MessageResult::Cancel;
}

void MainWindow::call(const std::function<void()>& handler) {
    if (!handler) return;
    try {
        handler();
    } catch (...) {
        // Handlers run in continue-on-failure mode: a failure ends that handler only.
    }
}

void MainWindow::onCommand(int id, int code) {
    const int index = id - kFirstControlId;
    if (index < 0 || index >= static_cast<int>(kWindowLayout.size())) return;
    const ControlId control = kWindowLayout[static_cast<std::size_t>(index)].id;
    switch (control) {
    case ControlId::Browse:
        if (code == BN_CLICKED) call(events_.browseClick);
        break;
    case ControlId::UpLoad:
        if (code == BN_CLICKED) call(events_.upLoadClick);
        break;
    case ControlId::Exit:
        if (code == BN_CLICKED) call(events_.exitClick);
        break;
    case ControlId::ComPortSet:
        if (code == CBN_SELCHANGE && events_.comPortSetClick) {
            const LRESULT item = SendMessageW(this->control(ControlId::ComPortSet), CB_GETCURSEL, 0, 0);
            if (item != CB_ERR) call([&] { events_.comPortSetClick(static_cast<int>(item)); });
        }
        break;
    default: break;
    }
}

LRESULT MainWindow::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (lParam != 0) onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER: onTimer(wParam); return 0;
    case WM_ACTIVATE:
        if (onActivate(LOWORD(wParam) != WA_INACTIVE)) return 0;
        break;
    case WM_SETFOCUS: onSetFocus(); return 0;
    case WM_CLOSE: onClose(); return 0;
    case WM_ENDSESSION: onEndSession(wParam != FALSE); return 0;
    case WM_DESTROY: onDestroy(); return 0;
    default: break;
    }
    return defaultHandling(message, wParam, lParam);
}

void MainWindow::onTimer(UINT_PTR id) {
    if (id == kTimer1Id && timerEnabled_) call(events_.timer1Tick);
}

HWND MainWindow::focusToRestore() const {
    return lastFocus_ && IsWindow(lastFocus_) && IsWindowEnabled(lastFocus_) ? lastFocus_ : nullptr;
}

// Leaving, the window notes the focus; coming back, it gives it back (true: done, in place of the
// default handling).
bool MainWindow::onActivate(bool active) {
    if (!active) {
        HWND focus = GetFocus();
        if (focus && IsChild(hwnd(), focus)) lastFocus_ = focus;
        return false;
    }
    HWND focus = focusToRestore();
    if (!focus) return false;
    SetFocus(focus);
    return true;
}

void MainWindow::onSetFocus() {
    if (HWND focus = focusToRestore()) SetFocus(focus);
}

void MainWindow::onClose() {
    // The shut-down sequence ends the process; should it come back, the window closes
    // anyway: closing is never refused.
    call(events_.unload);
    DestroyWindow(hwnd());
}

void MainWindow::onEndSession(bool ending) {
    if (ending) call(events_.unload);
}

void MainWindow::onDestroy() {
    KillTimer(hwnd(), kTimer1Id);
    PostQuitMessage(0);
}

} // namespace qz::win32
