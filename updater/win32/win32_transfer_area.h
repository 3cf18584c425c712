#pragma once
// The area of the main window in which the serial transfer control draws itself: a child
// window of its own class. Idle it shows the port state; while a file is sent, the file name,
// blocks and bytes sent of the total, the percentage with a progress bar and the retries;
// after a transfer, its outcome. The window text carries the same facts on one line, so that
// test and assistive tools can read them.

#include <windows.h>

#include "common/win32/window.h"
#include "updater/core/serial_transfer_control.h"

#include <cstdint>
#include <string>

namespace qz::win32 {

struct TransferAreaModel {
    std::string portState;     // "COM1 closed", "COM1 open at 57600,n,8,1"
    bool transferSeen = false; // a transfer has run since the program started
    TransferReport transfer;   // the current or last transfer
};

// Percentage of the transfer done, 0 to 100 (a complete transfer of nothing counts as done).
int transferPercent(const TransferReport& report);

// The one-line summary that is also the area's window text.
std::string transferSummary(const TransferAreaModel& model);

class TransferArea final : public Window<TransferArea> {
public:
    static constexpr const wchar_t* kClassName = L"QzTransferArea";

    // Creates the area as a child of `parent` at `bounds` (client pixels of the parent).
    bool create(HWND parent, int id, const RECT& bounds, HINSTANCE instance);

    const TransferAreaModel& model() const { return model_; }
    // Replaces what the area shows and repaints it at the next paint (or at once with
    // `paintNow`, for progress while the caller holds the thread).
    void setModel(const TransferAreaModel& model, bool paintNow = false);

private:
    friend class Window<TransferArea>;
    LRESULT handleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void onSetFont(HFONT font, bool redraw);
    void onPaint();
    void paint(HDC dc, const RECT& client) const;

    HFONT font_ = nullptr;
    TransferAreaModel model_;
};

} // namespace qz::win32
