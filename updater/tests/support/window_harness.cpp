#include "updater/tests/support/window_harness.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>

namespace qz::test {

ScratchFolder::ScratchFolder() {
    static std::atomic<unsigned> counter{0};
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = std::filesystem::temp_directory_path() /
            ("qz-updater-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::filesystem::create_directories(path_);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

std::string readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

WindowHarness::WindowHarness() {
    view.facts.folder = folder.path().string();
    view.onTimer1 = [this] { window.Timer1Timer(); };
    log.clock = [this] { return view.now(); };
    log.clear(); // the dialog's default extension, given at construction
}

} // namespace qz::test
