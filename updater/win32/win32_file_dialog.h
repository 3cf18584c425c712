#pragma once
// CommonDialog1: the open-file dialog of the updater over the system's GetOpenFileNameA.

#include "updater/core/updater_view.h"

#include <windows.h>

#include <string>

namespace qz::win32 {

// "Description|pattern|..." as the system wants it: each part ended by a NUL, and one more
// NUL at the end. Empty text gives no filter.
std::string systemFilter(std::string_view filter);

class OpenFileDialog final : public FileDialog {
public:
    explicit OpenFileDialog(HWND owner = nullptr) : owner_(owner) {}
    void setOwner(HWND owner) { owner_ = owner; }

    bool setTitle(std::string_view title) override;
    bool setFilter(std::string_view filter) override;
    bool setDefaultExtension(std::string_view extension) override;
    bool setFileName(std::string_view name) override;
    // True when the user chose a file. A cancel reports false and keeps the preset name;
    // so does a dialog that could not be shown.
    bool showOpen() override;
    std::optional<std::string> fileName() const override { return fileName_; }

private:
    HWND owner_;
    std::string title_;
    std::string filter_;    // in the system's form
    std::string extension_; // without the leading dot
    std::string fileName_;
};

} // namespace qz::win32
