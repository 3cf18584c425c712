#include "updater/win32/win32_transfer_area.h"

#include "common/win32/handles.h"
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

// Lines of text down an area, one under the other, in the font selected into the device context.
class TextLines {
public:
    TextLines(HDC dc, const RECT& area) : dc_(dc), line_{area.left, area.top, area.right, area.top} {
        TEXTMETRICW tm{};
        GetTextMetricsW(dc, &tm);
        height_ = tm.tmHeight + tm.tmExternalLeading + 3;
    }
    void write(const std::string& text, UINT extra = 0) {
        line_.bottom = line_.top + height_;
        const std::wstring wide = widen(text);
        DrawTextW(dc_, wide.c_str(), static_cast<int>(wide.size()), &line_,
                  DT_LEFT | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | extra);
        line_.top = line_.bottom;
    }
    // Room for a bar a little taller than a line, with a gap above and below it.
    RECT barRow() {
        const RECT bar{line_.left, line_.top + 2, line_.right, line_.top + height_ + 4};
        line_.top = bar.bottom + 4;
        return bar;
    }

private:
    HDC dc_;
    RECT line_;
    int height_ = 0;
};

// The percentage centred on the bar's inside; over the filled part it is drawn in the highlight
// text colour, so that it stays readable.
void drawPercentage(HDC dc, const RECT& inner, const RECT& filled, int percent) {
    const std::wstring text = std::to_wstring(percent) + L" %";
    const UINT centred = DT_CENTER | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX;
    RECT box = inner;
    const int saved = SaveDC(dc);
    IntersectClipRect(dc, filled.left, filled.top, filled.right, filled.bottom);
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    DrawTextW(dc, text.c_str(), -1, &box, centred);
    RestoreDC(dc, saved);
    ExcludeClipRect(dc, filled.left, filled.top, filled.right, filled.bottom);
    SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
    DrawTextW(dc, text.c_str(), -1, &box, centred);
    SelectClipRgn(dc, nullptr);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
}

// A progress bar over `bar`, filled to `percent`, with the percentage on it.
void drawProgressBar(HDC dc, const RECT& bar, int percent) {
    FrameRect(dc, &bar, GetSysColorBrush(COLOR_BTNSHADOW));
    const RECT inner{bar.left + 1, bar.top + 1, bar.right - 1, bar.bottom - 1};
    FillRect(dc, &inner, GetSysColorBrush(COLOR_WINDOW));
    RECT filled = inner;
    filled.right = inner.left + (inner.right - inner.left) * percent / 100;
    FillRect(dc, &filled, GetSysColorBrush(COLOR_HIGHLIGHT));
    drawPercentage(dc, inner, filled, percent);
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

bool TransferArea::create(HWND parent, int id, const RECT& bounds, HINSTANCE instance) {
    WNDCLASSEXW windowClass{};
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.hInstance = instance;
    windowClass.hbrBackground = nullptr; // painted whole in WM_PAINT
    windowClass.lpszClassName = kClassName;
    if (!registerClass(windowClass)) return false;
    return createWindow(0, kClassName, widen(transferSummary(model_)).c_str(), WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS,
                        bounds.left, bounds.top, bounds.right - bounds.left, bounds.bottom - bounds.top, parent,
                        reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance) != nullptr;
}

void TransferArea::setModel(const TransferAreaModel& model, bool paintNow) {
    model_ = model;
    if (!hwnd()) return;
    SetWindowTextW(hwnd(), widen(transferSummary(model_)).c_str());
    InvalidateRect(hwnd(), nullptr, FALSE);
    if (paintNow) UpdateWindow(hwnd());
}

LRESULT TransferArea::handleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETFONT: onSetFont(reinterpret_cast<HFONT>(wParam), LOWORD(lParam) != 0); return 0;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(font_);
    case WM_ERASEBKGND: return 1; // WM_PAINT covers the whole area
    case WM_PAINT: onPaint(); return 0;
    default: return defaultHandling(message, wParam, lParam);
    }
}

void TransferArea::onSetFont(HFONT font, bool redraw) {
    font_ = font;
    if (redraw) InvalidateRect(hwnd(), nullptr, FALSE);
}

void TransferArea::onPaint() {
    PaintContext paintContext(hwnd());
    RECT client;
    GetClientRect(hwnd(), &client);
    // Drawn off screen first, so that fast progress updates do not flicker.
    UniqueDc memory(CreateCompatibleDC(paintContext.dc()));
    UniqueBitmap bitmap(CreateCompatibleBitmap(paintContext.dc(), client.right, client.bottom));
    if (!memory || !bitmap) {
        paint(paintContext.dc(), client);
        return;
    }
    SelectedObject selected(memory.get(), bitmap.get());
    paint(memory.get(), client);
    BitBlt(paintContext.dc(), 0, 0, client.right, client.bottom, memory.get(), 0, 0, SRCCOPY);
}

void TransferArea::paint(HDC dc, const RECT& client) const {
    FillRect(dc, &client, GetSysColorBrush(COLOR_BTNFACE));
    RECT edge = client;
    DrawEdge(dc, &edge, EDGE_SUNKEN, BF_RECT | BF_ADJUST);

    SelectedObject font(dc, font_ ? static_cast<HGDIOBJ>(font_) : GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
    constexpr int margin = 8;
    TextLines lines(dc, RECT{edge.left + margin, edge.top + margin / 2, edge.right - margin, edge.bottom});
    lines.write("Port: " + model_.portState, DT_END_ELLIPSIS);
    if (!model_.transferSeen) {
        lines.write("No file sent yet");
        return;
    }
    const TransferReport& r = model_.transfer;
    lines.write(phaseText(r) + ": " + r.fileName, DT_PATH_ELLIPSIS);
    lines.write(blocksLine(r), DT_END_ELLIPSIS);
    drawProgressBar(dc, lines.barRow(), transferPercent(r));
    lines.write("Retries: " + std::to_string(r.progress.retries));
    if (!r.running) lines.write("Outcome: " + outcomeText(r), DT_END_ELLIPSIS);
}

} // namespace qz::win32
