#include "updater/core/updater_window.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

namespace qz {

std::string loadFailureMessage(std::string_view path) {
    return "An error occured while loading file " + std::string(path) + "." +
           " The default settings will be loaded instead.";
}

std::string saveFailureMessage(std::string_view path) {
    return "An error occured while saving file " + std::string(path);
}

bool pathLooksBinary(std::string_view path) {
    const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    for (std::size_t i = 0; i + 3 <= path.size(); ++i) {
        if (lower(path[i]) == 'b' && lower(path[i + 1]) == 'i' && lower(path[i + 2]) == 'n') return true;
    }
    return false;
}

TwipsRect placeInWorkArea(const TwipsRect& saved, const TwipsRect& workArea, float designWidth, float designHeight) {
    TwipsRect placed = saved;
    const bool usable = std::isfinite(saved.width) && std::isfinite(saved.height) && saved.width >= designWidth / 4 &&
                        saved.height >= designHeight / 4;
    if (!usable) {
        placed.width = designWidth;
        placed.height = designHeight;
    }
    placed.width = std::min(placed.width, workArea.width);
    placed.height = std::min(placed.height, workArea.height);
    const auto inside = [](float position, float size, float areaStart, float areaSize) {
        if (!std::isfinite(position)) return areaStart;
        return std::clamp(position, areaStart, areaStart + areaSize - size);
    };
    placed.left = inside(saved.left, placed.width, workArea.left, workArea.width);
    placed.top = inside(saved.top, placed.height, workArea.top, workArea.height);
    return placed;
}

namespace {

// The window's side of each geometry value of the settings file, in the same order.
constexpr std::array<WindowMetric, 4> kGeometryMetrics{WindowMetric::Width, WindowMetric::Height, WindowMetric::Top,
                                                       WindowMetric::Left};

} // namespace

UpdaterWindow::UpdaterWindow(UpdaterView& view, FileDialog& dialog, TransferControl& control, Profile& profile)
    : view_(view), dialog_(dialog), control_(control), profile_(profile) {
    dialog_.setDefaultExtension(kDialogDefaultExtension);
}

SettingsFile UpdaterWindow::settingsFile() const {
    const ProgramFacts facts = view_.programFacts();
    const std::filesystem::path folder =
        facts.folderPath.empty() ? std::filesystem::path(facts.folder) : facts.folderPath;
    return {folder / kSettingsFileName, facts.folder + facts.pathSeparator + std::string(kSettingsFileName)};
}

void UpdaterWindow::Load() {
    const ProgramFacts facts = view_.programFacts();
    const SettingsFile file = settingsFile();

    // Geometry and state: a key that is missing or holds no number leaves that property as it is.
    WindowSettings saved = readWindowSettings(profile_, file.path);
    placeOnScreen(saved);
    for (std::size_t i = 0; i < kGeometryMetrics.size(); ++i) {
        if (saved.geometry[i]) view_.setMetric(kGeometryMetrics[i], *saved.geometry[i]);
    }
    if (const auto state = saved.state) {
        if (*state >= kWindowNormal && *state <= kWindowMaximised) view_.setWindowState(*state);
    }

    view_.setText(ControlId::Status, statusText(UploadPhase::Idle));
    LoadPortAndFile(file);
    view_.setTitle(std::string(kTitlePrefix) + std::to_string(facts.versionMajor) + "." +
                   std::to_string(facts.versionMinor) + "." + std::to_string(facts.versionRevision));
    for (int item = 1; item <= 8; ++item) view_.addComboItem(ControlId::ComPortSet, std::to_string(item));
    view_.setText(ControlId::ComPortSet, std::to_string(ComPort));
    view_.setTimer1Enabled(false);
    control_.setNullDiscard(false);
    view_.setVisible(ControlId::BravlinkCRC2, true);
}

// The saved geometry was taken as the window reported it, minimised (far off, tiny) or on a
// monitor since unplugged: it is moved into the work area of the nearest monitor. Sides the
// placement moves are set even when their key was missing.
void UpdaterWindow::placeOnScreen(WindowSettings& settings) const {
    auto& saved = settings.geometry;
    if (std::none_of(saved.begin(), saved.end(), [](const auto& v) { return v.has_value(); })) return;
    std::array<float, kGeometryMetrics.size()> current{};
    for (std::size_t i = 0; i < kGeometryMetrics.size(); ++i) {
        const auto value = view_.metric(kGeometryMetrics[i]);
        if (!value) return;
        current[i] = *value;
    }
    // Before anything is set, the window has its design size.
    const float designWidth = current[0], designHeight = current[1];
    const auto side = [&](std::size_t i) { return saved[i].value_or(current[i]); };
    const TwipsRect wanted{side(3), side(2), side(0), side(1)};
    const auto area = view_.workArea(wanted);
    if (!area) return;
    const TwipsRect placed = placeInWorkArea(wanted, *area, designWidth, designHeight);
    const std::array<float, kGeometryMetrics.size()> sides{placed.width, placed.height, placed.top, placed.left};
    for (std::size_t i = 0; i < kGeometryMetrics.size(); ++i) {
        if (saved[i] || sides[i] != current[i]) saved[i] = sides[i];
    }
}

void UpdaterWindow::Unload() {
    if (const auto open = control_.portOpen(); open && *open) control_.setPortOpen(false);

    const SettingsFile file = settingsFile();
    SavePortAndFile(file);
    WindowSettings settings;
    for (std::size_t i = 0; i < kGeometryMetrics.size(); ++i) settings.geometry[i] = view_.metric(kGeometryMetrics[i]);
    settings.state = view_.windowState();
    writeWindowSettings(profile_, file.path, settings);
    view_.endProcess();
    std::abort(); // not reached: ending the process never returns
}

void UpdaterWindow::LoadPortAndFile(const SettingsFile& file) {
    const PortAndFile records = readPortAndFile(file.path);
    if (records.comPort) ComPort = *records.comPort;
    if (records.fileText) {
        view_.setText(ControlId::FileText, *records.fileText);
        FileToUpLoad = *records.fileText;
    }
    if (!records.whole) {
        view_.messageBox(loadFailureMessage(file.shown), view_.programFacts().applicationTitle,
                         MessageIcon::Exclamation, MessageButtons::Ok);
    }
}

void UpdaterWindow::SavePortAndFile(const SettingsFile& file) {
    if (!writePortAndFile(file.path, ComPort, view_.text(ControlId::FileText))) {
        view_.messageBox(saveFailureMessage(file.shown), view_.programFacts().applicationTitle,
                         MessageIcon::Exclamation, MessageButtons::Ok);
    }
}

UploadResult UpdaterWindow::UpLoadClick() {
    UploadOptions options;
    options.applicationTitle = view_.programFacts().applicationTitle;
    UploadSequence sequence(control_, *this, *this, std::move(options));
    return sequence.run();
}

void UpdaterWindow::BrowseClick() {
    const std::string title = view_.programFacts().applicationTitle;
    for (;;) {
        dialog_.setTitle(kDialogTitle);
        dialog_.setFilter(kDialogFilter);
        if (const auto current = view_.text(ControlId::FileText)) dialog_.setFileName(*current);
        dialog_.showOpen(); // a cancel reported as a failure changes nothing: the name is read anyway
        if (const auto name = dialog_.fileName()) {
            view_.setText(ControlId::FileText, *name);
            FileToUpLoad = *name;
        }
        if (FileToUpLoad.empty()) return;
        if (pathLooksBinary(FileToUpLoad)) return;
        if (view_.messageBox(kNotBinaryQuestion, title, MessageIcon::Question, MessageButtons::OkCancel) !=
            MessageResult::Ok) {
            return;
        }
    }
}

void UpdaterWindow::ComPortSetClick(int index) {
    if (index < 0 || index > 32766) return;
    ComPort = static_cast<std::int16_t>(index + 1);
}

void UpdaterWindow::showStatus(std::string_view text) { view_.setText(ControlId::Status, text); }

void UpdaterWindow::showMessage(std::string_view text, std::string_view title) {
    view_.messageBox(text, title, MessageIcon::None, MessageButtons::Ok);
}

void UpdaterWindow::pumpMessages() { view_.pumpMessages(); }

void UpdaterWindow::sleep(std::uint32_t milliseconds) { view_.sleep(milliseconds); }

void UpdaterWindow::setTimerEnabled(bool enabled) { view_.setTimer1Enabled(enabled); }

void UpdaterWindow::setInputEnabled(ControlId control, bool enabled) { view_.setEnabled(control, enabled); }

} // namespace qz
