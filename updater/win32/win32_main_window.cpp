#include "updater/win32/win32_main_window.h"

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

// Frames are painted here rather than by the group box itself, so that a caption that lies
// under a label bearing the same text (Label1 over Frame1) is drawn exactly where the label
// draws its text: the two then read as one caption, whatever the font's width.
LRESULT CALLBACK framePaintProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR, DWORD_PTR data) {
    const auto* look = reinterpret_cast<const FrameLook*>(data);
    switch (message) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT:
    case WM_PRINTCLIENT: {
        PAINTSTRUCT ps{};
        HDC dc = message == WM_PAINT ? BeginPaint(hwnd, &ps) : reinterpret_cast<HDC>(wParam);
        RECT client;
        GetClientRect(hwnd, &client);
        HWND parent = GetParent(hwnd);
        HBRUSH background = reinterpret_cast<HBRUSH>(
            SendMessageW(parent, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(hwnd)));
        FillRect(dc, &client, background ? background : GetSysColorBrush(COLOR_BTNFACE));
        HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageW(hwnd, WM_GETFONT, 0, 0)));
        const std::wstring caption = windowText(hwnd);
        SIZE extent{0, 0};
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        RECT measure{0, 0, 0, 0};
        if (!caption.empty()) {
            DrawTextW(dc, caption.c_str(), -1, &measure, DT_CALCRECT | DT_SINGLELINE);
            extent = {measure.right, measure.bottom};
        }
        RECT border = client;
        border.top += tm.tmHeight / 2;
        DrawEdge(dc, &border, EDGE_ETCHED, BF_RECT);
        if (!caption.empty()) {
            const bool flush = look && look->coveringLabel;
            const int indent = flush ? 0 : tm.tmAveCharWidth;
            const int gap = flush ? 0 : 2;
            RECT text{client.left + indent, client.top, client.left + indent + extent.cx + 2 * gap,
                      client.top + tm.tmHeight};
            FillRect(dc, &text, background ? background : GetSysColorBrush(COLOR_BTNFACE));
            text.left += gap;
            SetBkMode(dc, TRANSPARENT);
            // A caption under a label shows where the label's text ends: in the label's colours.
            const bool enabled = IsWindowEnabled(flush ? look->coveringLabel : hwnd);
            SetTextColor(dc, GetSysColor(enabled ? COLOR_BTNTEXT : COLOR_GRAYTEXT));
            DrawTextW(dc, caption.c_str(), -1, &text, DT_LEFT | DT_TOP | DT_SINGLELINE);
        }
        SelectObject(dc, oldFont);
        if (message == WM_PAINT) EndPaint(hwnd, &ps);
        return 0;
    }
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

} // namespace

int twipsToPixels(float twips) { return static_cast<int>(std::lround(twips / static_cast<float>(kTwipsPerPixel))); }

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
    if (hwnd_) DestroyWindow(hwnd_);
    if (font_) DeleteObject(font_);
    if (iconLarge_) DestroyIcon(iconLarge_);
    if (iconSmall_) DestroyIcon(iconSmall_);
}

bool MainWindow::create() {
    INITCOMMONCONTROLSEX init{sizeof init, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&init);

    iconLarge_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_UPDATER), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    iconSmall_ = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_UPDATER), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0));
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &MainWindow::windowProc;
    wc.hInstance = instance_;
    wc.hIcon = iconLarge_;
    wc.hIconSm = iconSmall_;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    wc.lpszClassName = kMainWindowClass;
    if (!RegisterClassExW(&wc) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;

    // Outer size for the design client area of 7860 x 6405 twips.
    const DWORD style = WS_OVERLAPPEDWINDOW;
    const DWORD exStyle = WS_EX_CONTROLPARENT;
    RECT frame{0, 0, twipsToPixels(kClientWidthTwips), twipsToPixels(kClientHeightTwips)};
    AdjustWindowRectEx(&frame, style, FALSE, exStyle);
    hwnd_ = CreateWindowExW(exStyle, kMainWindowClass, widen(kDesignTitle).c_str(), style, CW_USEDEFAULT, CW_USEDEFAULT,
                            frame.right - frame.left, frame.bottom - frame.top, nullptr, nullptr, instance_, this);
    if (!hwnd_) return false;
    font_ = createMessageFont();
    return createControls();
}

bool MainWindow::createControls() {
    // Created in tab order: the z-order then follows it, so Tab walks the controls in that
    // order, and the frames (last in the tab order) lie behind the controls inside them.
    std::vector<const ControlLayout*> order;
    for (const auto& c : kWindowLayout) order.push_back(&c);
    std::stable_sort(order.begin(), order.end(),
                     [](const ControlLayout* a, const ControlLayout* b) { return a->tabOrder < b->tabOrder; });

    for (const ControlLayout* c : order) {
        const int x = twipsToPixels(static_cast<float>(c->left));
        const int y = twipsToPixels(static_cast<float>(c->top));
        const int w = twipsToPixels(static_cast<float>(c->width));
        int h = twipsToPixels(static_cast<float>(c->height));
        const int id = commandIdOf(c->id);
        const DWORD common = WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS;
        const wchar_t* cls = nullptr;
        DWORD style = common;
        DWORD exStyle = 0;
        switch (c->kind) {
        case ControlKind::Frame:
            cls = WC_BUTTONW;
            style |= BS_GROUPBOX;
            break;
        case ControlKind::Label:
            cls = WC_STATICW;
            style |= SS_LEFTNOWORDWRAP | (c->id == ControlId::Status ? SS_NOPREFIX : 0);
            break;
        case ControlKind::ComboBox:
            cls = WC_COMBOBOXW;
            style |= CBS_DROPDOWN | CBS_AUTOHSCROLL | WS_VSCROLL | WS_TABSTOP | WS_GROUP;
            // The height given is the closed box; the open list hangs below it.
            h += kComboListRows * h;
            break;
        case ControlKind::TextBox:
            cls = WC_EDITW;
            style |= ES_LEFT | ES_AUTOHSCROLL | WS_TABSTOP | WS_GROUP;
            exStyle = WS_EX_CLIENTEDGE;
            break;
        case ControlKind::Button:
            cls = WC_BUTTONW;
            style |= BS_PUSHBUTTON | WS_TABSTOP | WS_GROUP;
            break;
        case ControlKind::TransferArea: {
            const RECT bounds{x, y, x + w, y + h};
            if (!transferArea_.create(hwnd_, id, bounds, instance_)) return false;
            controls_[indexOf(c->id)] = transferArea_.hwnd();
            SendMessageW(transferArea_.hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
            continue;
        }
        }
        HWND child = CreateWindowExW(exStyle, cls, widen(c->caption).c_str(), style, x, y, w, h, hwnd_,
                                     reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
        if (!child) return false;
        if (font_) SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(font_), FALSE);
        controls_[indexOf(c->id)] = child;
        if (c->kind == ControlKind::Frame) frames_.push_back(c);
    }
    // Frames paint themselves; one whose caption lies under a label with the same text (created
    // before it, in tab order) draws it where the label does.
    for (const ControlLayout* f : frames_) {
        auto& look = frameLooks_[indexOf(f->id)];
        for (const auto& o : kWindowLayout) {
            if (o.kind == ControlKind::Label && o.left == f->left && o.top == f->top && o.caption == f->caption) {
                look.coveringLabel = control(o.id);
            }
        }
        SetWindowSubclass(control(f->id), framePaintProc, 1, reinterpret_cast<DWORD_PTR>(&look));
    }
    return true;
}

HWND MainWindow::control(ControlId id) const { return controls_[indexOf(id)]; }

void MainWindow::show() {
    int command = SW_SHOWNORMAL;
    if (pendingState_ == kWindowMinimised) command = SW_SHOWMINIMIZED;
    if (pendingState_ == kWindowMaximised) command = SW_SHOWMAXIMIZED;
    shown_ = true;
    ShowWindow(hwnd_, command);
    UpdateWindow(hwnd_);
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
    if (msg.message != WM_CHAR && hwnd_ && IsDialogMessageW(hwnd_, &msg)) return;
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
        SetTimer(hwnd_, kTimer1Id, static_cast<UINT>(kTimer1IntervalMs), nullptr);
    } else {
        KillTimer(hwnd_, kTimer1Id);
    }
}

void MainWindow::endProcess() { ExitProcess(0); }

ProgramFacts MainWindow::programFacts() const { return currentProgramFacts(); }

bool MainWindow::setText(ControlId id, std::string_view text) {
    if (id == ControlId::BravlinkCRC2) return false;
    HWND hwnd = control(id);
    return hwnd && SetWindowTextW(hwnd, widen(text).c_str());
}

std::optional<std::string> MainWindow::text(ControlId id) const {
    HWND hwnd = control(id);
    if (!hwnd || id == ControlId::BravlinkCRC2) return std::nullopt;
    return narrow(windowText(hwnd));
}

bool MainWindow::setEnabled(ControlId id, bool enabled) {
    HWND hwnd = control(id);
    if (!hwnd) return false;
    if (!enabled) {
        // A disabled control cannot keep the keyboard: hand it to the next one in tab order.
        HWND focus = GetFocus();
        if (focus && (focus == hwnd || IsChild(hwnd, focus))) {
            HWND next = GetNextDlgTabItem(hwnd_, hwnd, FALSE);
            SetFocus(next && next != hwnd ? next : hwnd_);
        }
    }
    EnableWindow(hwnd, enabled ? TRUE : FALSE);
    // A frame caption drawn under this label follows its state.
    for (const ControlLayout* f : frames_) InvalidateRect(control(f->id), nullptr, TRUE);
    return true;
}

bool MainWindow::setVisible(ControlId id, bool visible) {
    HWND hwnd = control(id);
    if (!hwnd) return false;
    ShowWindow(hwnd, visible ? SW_SHOWNA : SW_HIDE);
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

bool MainWindow::setTitle(std::string_view title) { return SetWindowTextW(hwnd_, widen(title).c_str()) != FALSE; }

std::optional<std::string> MainWindow::title() const { return narrow(windowText(hwnd_)); }

bool MainWindow::setMetric(WindowMetric which, float twips) {
    if (!std::isfinite(twips)) return false;
    // Far outside any screen: refused rather than wrapped.
    if (std::fabs(twips) > 32767.0f * kTwipsPerPixel) return false;
    if ((which == WindowMetric::Width || which == WindowMetric::Height) && twips < 0) return false;
    // A minimised or maximised window cannot be moved or sized.
    if (IsIconic(hwnd_) || IsZoomed(hwnd_)) return false;
    RECT r;
    if (!GetWindowRect(hwnd_, &r)) return false;
    int x = r.left, y = r.top, w = r.right - r.left, h = r.bottom - r.top;
    const int px = twipsToPixels(twips);
    switch (which) {
    case WindowMetric::Width: w = px; break;
    case WindowMetric::Height: h = px; break;
    case WindowMetric::Top: y = px; break;
    case WindowMetric::Left: x = px; break;
    }
    return SetWindowPos(hwnd_, nullptr, x, y, w, h, SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

std::optional<float> MainWindow::metric(WindowMetric which) const {
    RECT r;
    if (!GetWindowRect(hwnd_, &r)) return std::nullopt;
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
    ShowWindow(hwnd_, state == kWindowMinimised ? SW_MINIMIZE : state == kWindowMaximised ? SW_MAXIMIZE : SW_RESTORE);
    return true;
}

std::optional<std::int16_t> MainWindow::windowState() const {
    if (!shown_) return pendingState_;
    if (IsIconic(hwnd_)) return kWindowMinimised;
    if (IsZoomed(hwnd_)) return kWindowMaximised;
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
    const int r = MessageBoxW(hwnd_, widen(text).c_str(), widen(title).c_str(), type);
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

LRESULT CALLBACK MainWindow::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);
    if (message == WM_NCCREATE) self->hwnd_ = hwnd;
    return self->handle(hwnd, message, wParam, lParam);
}

LRESULT MainWindow::handle(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_COMMAND:
        if (lParam != 0) onCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        if (wParam == kTimer1Id && timerEnabled_) call(events_.timer1Tick);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd, focus)) lastFocus_ = focus;
        } else if (lastFocus_ && IsWindow(lastFocus_) && IsWindowEnabled(lastFocus_)) {
            SetFocus(lastFocus_);
            return 0;
        }
        break;
    case WM_SETFOCUS:
        if (lastFocus_ && IsWindow(lastFocus_) && IsWindowEnabled(lastFocus_)) SetFocus(lastFocus_);
        return 0;
    case WM_CLOSE:
        // The shut-down sequence ends the process; should it come back, the window closes
        // anyway: closing is never refused.
        call(events_.unload);
        DestroyWindow(hwnd);
        return 0;
    case WM_ENDSESSION:
        if (wParam) call(events_.unload);
        return 0;
    case WM_DESTROY:
        KillTimer(hwnd, kTimer1Id);
        PostQuitMessage(0);
        return 0;
    case WM_NCDESTROY: hwnd_ = nullptr; break;
    default: break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

} // namespace qz::win32
