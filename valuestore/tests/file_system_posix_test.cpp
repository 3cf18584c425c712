// POSIX specifics: a save that the folder's permissions refuse leaves the old file intact.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>

#include "valuestore/core/value_store.h"
#include "valuestore/tests/support/temp_folder.h"

namespace vs {
namespace {

TEST(PosixFileSystem, SaveRefusedByAReadOnlyFolderKeepsTheOldFile) {
    test::TempFolder folder;
    const std::string path = folder.file("values.txt");
    const std::string old = "\"<BEGINVALUEDECLARE>(NULL)(A)<ENDVALUEDECLARE>\"\r\n\"NULL (0)A (1) \"\r\n";
    test::writeBytes(path, old);
    ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);

    // Permissions do not bind root: try the save as an unprivileged user in a child process.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(10);
        ValueStore store;
        store.setDataFileSource([&] { return path; });
        store.setNewValueData("2");
        // The failed save is an error naming the file; the change stays in the working texts.
        auto refused = [&](auto&& operation) {
            try {
                operation();
            } catch (const StoreError& e) {
                return e.number == error::permissionDenied && std::string(e.what()).find(path) != std::string::npos;
            }
            return false;
        };
        if (!refused([&] { store.addDataValue("B"); })) ::_exit(11);
        if (store.valueText() != "NULL (0)A (1) B (2) ") ::_exit(12);
        if (!refused([&] { store.clearAll(); })) ::_exit(13);
        ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(test::readBytes(path), old);
    EXPECT_EQ(folder.entries(), (std::set<std::string>{"values.txt"}));
}

TEST(PosixFileSystem, SaveKeepsTheFilesModeAndSymbolicLink) {
    test::TempFolder folder;
    const std::string target = folder.file("target.txt"), link = folder.file("link.txt");
    test::writeBytes(target, "old");
    ASSERT_EQ(::chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(::symlink("target.txt", link.c_str()), 0);
    systemFileSystem().replaceFile(link, "new");
    struct stat st {};
    ASSERT_EQ(::lstat(link.c_str(), &st), 0);
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_EQ(test::readBytes(target), "new");
}

} // namespace
} // namespace vs
