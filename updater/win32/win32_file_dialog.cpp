#include "updater/win32/win32_file_dialog.h"

#include <cderr.h>
#include <commdlg.h>

#include <vector>

namespace qz::win32 {

namespace {
// Room for the chosen path (the ANSI dialog works within MAX_PATH, a preset may be longer).
constexpr std::size_t kFileBufferSize = 4096;
} // namespace

std::string systemFilter(std::string_view filter) {
    if (filter.empty()) return {};
    std::string result(filter);
    for (char& c : result) {
        if (c == '|') c = '\0';
    }
    result.push_back('\0');
    result.push_back('\0');
    return result;
}

bool OpenFileDialog::setTitle(std::string_view title) {
    title_ = title;
    return true;
}

bool OpenFileDialog::setFilter(std::string_view filter) {
    // Descriptions and patterns come in pairs.
    std::size_t bars = 0;
    for (char c : filter) bars += c == '|';
    if (!filter.empty() && bars % 2 == 0) return false;
    filter_ = systemFilter(filter);
    return true;
}

bool OpenFileDialog::setDefaultExtension(std::string_view extension) {
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    extension_ = extension;
    return true;
}

bool OpenFileDialog::setFileName(std::string_view name) {
    if (name.size() >= kFileBufferSize) return false;
    fileName_ = name;
    return true;
}

bool OpenFileDialog::showOpen() {
    std::vector<char> buffer(kFileBufferSize, '\0');
    auto open = [&](const std::string& preset) {
        std::fill(buffer.begin(), buffer.end(), '\0');
        preset.copy(buffer.data(), buffer.size() - 1);
        OPENFILENAMEA ofn{};
        ofn.lStructSize = sizeof ofn;
        ofn.hwndOwner = owner_;
        ofn.lpstrFilter = filter_.empty() ? nullptr : filter_.c_str();
        ofn.nFilterIndex = 1;
        ofn.lpstrFile = buffer.data();
        ofn.nMaxFile = static_cast<DWORD>(buffer.size());
        ofn.lpstrTitle = title_.empty() ? nullptr : title_.c_str();
        ofn.lpstrDefExt = extension_.empty() ? nullptr : extension_.c_str();
        // A typed name is returned as typed (with the default extension when it has none), even
        // if no such file exists yet: the caller judges the name. Its folder must exist.
        ofn.Flags = OFN_EXPLORER | OFN_ENABLESIZING | OFN_HIDEREADONLY | OFN_NOCHANGEDIR | OFN_PATHMUSTEXIST;
        return GetOpenFileNameA(&ofn) != FALSE;
    };

    if (open(fileName_)) {
        fileName_ = buffer.data();
        return true;
    }
    // A preset the dialog cannot take (a text typed into the box that is no valid file name)
    // must not stop the user from choosing: open again without it.
    if (CommDlgExtendedError() == FNERR_INVALIDFILENAME && !fileName_.empty() && open({})) {
        fileName_ = buffer.data();
        return true;
    }
    return false; // cancelled or failed: the preset name stays
}

} // namespace qz::win32
