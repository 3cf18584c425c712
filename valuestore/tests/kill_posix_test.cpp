// A process killed at random points while it saves leaves the complete old or the complete new file.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <random>
#include <string>

#include "valuestore/core/value_store.h"
#include "valuestore/tests/support/temp_folder.h"

// Every kill forks, and a fork copies the page tables of the parent: keep the address sanitizer's
// quarantine of freed memory from growing them (used only when built with the sanitizer).
extern "C" const char* __asan_default_options() { return "quarantine_size_mb=0"; }

namespace vs {
namespace {

std::string manyValues(std::size_t count) {
    std::string declarations, values;
    for (std::size_t i = 0; i < count; ++i) {
        declarations += "(Value" + std::to_string(i) + ")";
        values += "Value" + std::to_string(i) + " (" + std::string(20, static_cast<char>('a' + i % 26)) + ") ";
    }
    return "\"<BEGINVALUEDECLARE>" + declarations + "<ENDVALUEDECLARE>\"\r\n\"" + values + "\"\r\n";
}

// Saves the two contents in turn until killed; reports on the pipe once it starts.
[[noreturn]] void saveForever(const std::string& path, const std::string& first, const std::string& second,
                              int report) {
    FileSystem& fs = systemFileSystem();
    if (::write(report, "s", 1) != 1) ::_exit(3);
    for (unsigned n = 0;; ++n) fs.replaceFile(path, n % 2 ? second : first);
}

// Microseconds one save takes here (flushing to the disk dominates).
long measureSave(const std::string& path, const std::string& content) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) systemFileSystem().replaceFile(path, content);
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - start).count() / 5);
}

TEST(KillWhileSaving, FileIsAlwaysTheCompleteOldOrNewContent) {
    // A killed process leaves its writes in the page cache whatever the file system, so a memory file
    // system (when there is one) tests the same and spares the disk flushes.
    const bool memory = ::access("/dev/shm", W_OK) == 0;
    test::TempFolder folder(memory ? "/dev/shm" : "");
    const std::string path = folder.file("values.txt");
    const std::string large = manyValues(1000); // about 35 KB
    const std::string small(kDefaultFileContent);
    // Kills fall anywhere in the first save or two of each child.
    const long window = measureSave(path, large) + 200;

    std::mt19937 random(std::random_device{}());
    int sawLarge = 0, sawSmall = 0;
    constexpr int kKills = 1000;
    for (int kill = 0; kill < kKills; ++kill) {
        int pipeEnds[2];
        ASSERT_EQ(::pipe(pipeEnds), 0);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            ::close(pipeEnds[0]);
            saveForever(path, kill % 2 ? small : large, kill % 2 ? large : small, pipeEnds[1]);
        }
        ::close(pipeEnds[1]);
        // Wait until the child runs, then let it save for a random while before the kill.
        char report;
        ASSERT_EQ(::read(pipeEnds[0], &report, 1), 1);
        ::usleep(static_cast<useconds_t>(random() % static_cast<unsigned long>(window)));
        ::kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ::close(pipeEnds[0]);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own: status " << status;

        const std::string content = test::readBytes(path);
        if (content == large)
            ++sawLarge;
        else if (content == small)
            ++sawSmall;
        else
            FAIL() << "kill " << kill << ": torn file of " << content.size() << " bytes";
    }
    EXPECT_EQ(sawLarge + sawSmall, kKills);
    // Both contents were seen, so the kills hit saves at different points.
    EXPECT_GT(sawLarge, 0);
    EXPECT_GT(sawSmall, 0);
    std::printf("kills: %d within %ld us of the start, large file seen %d times, small file %d times\n", kKills, window,
                sawLarge, sawSmall);
}

} // namespace
} // namespace vs
