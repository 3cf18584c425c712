#include "updater/win32/win32_transfer_area.h"

#include "common/win32/text.h"

#include <algorithm>
#include <cctype>

namespace qz::win32 {

int transferPercent(const TransferReport& r) {
    if (r.progress.bytesTotal == 0) return !r.running && r.status == TransferStatus::complete ? 100 : 0;
    const std::uint64_t done = std::min(r.progress.bytesAcked, r.progress.bytesTotal);
    return static_cast<int>(done * 100 / r.progress.bytesTotal);
}

namespace {

std::string baseName(const std::string& path) {
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string phaseText(const TransferReport& r) {
    if (!r.running) return "Sent";
    switch (r.progress.phase) {
    case XmodemPhase::waitingForReceiver: return "Waiting for the receiver";
    case XmodemPhase::sendingBlocks: return "Sending";
    case XmodemPhase::endingTransfer: return "Ending";
    case XmodemPhase::finished: return "Sent";
    }
    return "Sending";
}

std::string blocksLine(const TransferReport& r) {
    return "Block " + std::to_string(r.progress.blocksAcked) + " of " + std::to_string(r.progress.blocksTotal) + ", " +
           std::to_string(r.progress.bytesAcked) + " of " + std::to_string(r.progress.bytesTotal) + " bytes";
}

std::string outcomeText(const TransferReport& r) {
    std::string text(transferStatusText(r.status));
    if (!text.empty()) text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

} // namespace

std::string transferSummary(const TransferAreaModel& m) {
    std::string text = m.portState;
    if (!m.transferSeen) return text;
    const TransferReport& r = m.transfer;
    text += "; " + phaseText(r) + " " + baseName(r.fileName) + "; " + blocksLine(r) + "; " +
            std::to_string(transferPercent(r)) + "%; retries " + std::to_string(r.progress.retries);
    if (!r.running) text += "; " + outcomeText(r);
    return text;
}

bool TransferArea::registerClass(HINSTANCE instance) {
    WNDCLASSEXW wc{};
    if (GetClassInfoExW(instance, kClassName, &wc)) return true;
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = &TransferArea::windowProc;
    wc.hInstance = instance;
    wc.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(32512)); // IDC_ARROW
    wc.hbrBackground = nullptr;                                 // painted whole in WM_PAINT
    wc.lpszClassName = kClassName;
    return RegisterClassExW(&wc) != 0;
}

bool TransferArea::create(HWND parent, int id, const RECT& bounds, HINSTANCE instance) {
    if (!registerClass(instance)) return false;
    hwnd_ =
        CreateWindowExW(0, kClassName, widen(transferSummary(model_)).c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                        bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, this);
    return hwnd_ != nullptr;
}

void TransferArea::setModel(const TransferAreaModel& model, bool paintNow) {
    model_ = model;
    if (!hwnd_) return;
    SetWindowTextW(hwnd_, widen(transferSummary(model_)).c_str());
    InvalidateRect(hwnd_, nullptr, FALSE);
    if (paintNow) UpdateWindow(hwnd_);
}

LRESULT CALLBACK TransferArea::windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* self = reinterpret_cast<TransferArea*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    switch (message) {
    case WM_NCCREATE: {
        const auto* cs = reinterpret_cast<const CREATESTRUCTW*>(lParam);
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(cs->lpCreateParams));
        break;
    }
    case WM_SETFONT:
        if (self) {
            self->font_ = reinterpret_cast<HFONT>(wParam);
            if (LOWORD(lParam)) InvalidateRect(hwnd, nullptr, FALSE);
        }
        return 0;
    case WM_GETFONT: return self ? reinterpret_cast<LRESULT>(self->font_) : 0;
    case WM_ERASEBKGND: return 1; // WM_PAINT covers the whole area
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(hwnd, &ps);
        RECT client;
        GetClientRect(hwnd, &client);
        // Drawn off screen first, so that fast progress updates do not flicker.
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = CreateCompatibleBitmap(dc, client.right, client.bottom);
        if (memory && bitmap && self) {
            HGDIOBJ old = SelectObject(memory, bitmap);
            self->paint(memory, client);
            BitBlt(dc, 0, 0, client.right, client.bottom, memory, 0, 0, SRCCOPY);
            SelectObject(memory, old);
        } else if (self) {
            self->paint(dc, client);
        }
        if (bitmap) DeleteObject(bitmap);
        if (memory) DeleteDC(memory);
        EndPaint(hwnd, &ps);
        return 0;
    }
    case WM_NCDESTROY:
        if (self) self->hwnd_ = nullptr;
        break;
    default: break;
    }
    return DefWindowProcW(hwnd, message, wParam, lParam);
}

void TransferArea::paint(HDC dc, const RECT& client) const {
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    RECT edge = client;
    DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT | BF_ADJUST);

    HGDIOBJ oldFont = SelectObject(dc, font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    TEXTMETRICW tm{};
    GetTextMetricsW(dc, &tm);
    const int lineHeight = tm.tmHeight + tm.tmExternalLeading + 3;
    const int margin = 8;
    RECT line{edge.left + margin, edge.top + margin / 2, edge.right - margin, 0};
    auto drawLine = [&](const std::string& text, UINT extra = 0) {
        line.bottom = line.top + lineHeight;
        const std::wstring wide = widen(text);
        DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &line,
                  DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | extra);
        line.top = line.bottom;
    };

    const TransferAreaModel& m = model_;
    drawLine("Port: " + m.portState, DT_END_ELLIPSIS);
    if (!m.transferSeen) {
        drawLine("No file sent yet");
        SelectObject(dc, oldFont);
        return;
    }
    const TransferReport& r = m.transfer;
    drawLine(phaseText(r) + ": " + r.fileName, DT_PATH_ELLIPSIS);
    drawLine(blocksLine(r), DT_END_ELLIPSIS);

    // Progress bar with the percentage centred on it; the text over the filled part is drawn
    // in the highlight text colour so that it stays readable.
    const int percent = transferPercent(r);
    RECT bar{line.left, line.top + 2, line.right, line.top + lineHeight + 4};
    FrameRect(dc, &bar, GetSysColorBrush(COLOR_BTNSHADOW));
    RECT inner{bar.left + 1, bar.top + 1, bar.right - 1, bar.bottom - 1};
    FillRect(dc, &inner, GetSysColorBrush(COLOR_WINDOW));
    RECT filled = inner;
    filled.right = inner.left + (inner.right - inner.left) * percent / 100;
    FillRect(dc, &filled, GetSysColorBrush(COLOR_HIGHLIGHT));
    const std::wstring percentText = std::to_wstring(percent) + L" %";
    const UINT centred = DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, filled.left, filled.top, filled.right, filled.bottom);
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    DrawTextW(dc, percentText.c_str(), -1, &inner, centred);
    RestoreDC(dc, saved);
    ExcludeClipRect(dc, filled.left, filled.top, filled.right, filled.bottom);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    DrawTextW(dc, percentText.c_str(), -1, &inner, centred);
    SelectClipRgn(dc, nullptr);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    line.top = bar.bottom + 4;

    drawLine("Retries: " + std::to_string(r.progress.retries));
    if (!r.running) drawLine("Outcome: " + outcomeText(r), DT_END_ELLIPSIS);
    SelectObject(dc, oldFont);
}

} // namespace qz::win32
