// Windows specifics: a data file that is read-only or held open by another handle is never damaged:
// a save waits a moment for a file held briefly, and otherwise fails with an error naming the path.
#include <windows.h>
#include <gtest/gtest.h>

#include <functional>
#include <thread>

#include "common/win32/handles.h"
#include "valuestore/core/value_store.h"
#include "valuestore/tests/support/temp_folder.h"

namespace vs {
namespace {

constexpr const char* kOld = "\"<BEGINVALUEDECLARE>(NULL)(A)<ENDVALUEDECLARE>\"\r\n\"NULL (0)A (1) \"\r\n";

class WindowsFileSystem : public ::testing::Test {
protected:
    void SetUp() override {
        test::writeBytes(path, kOld);
        store.setDataFileSource([this] { return path; });
        store.setNewValueData("2");
    }
    // An error of that number whose description names the data file.
    void expectFileError(const std::function<void()>& operation, int number) {
        try {
            operation();
            ADD_FAILURE() << "no error";
        } catch (const StoreError& e) {
            EXPECT_EQ(e.number, number);
            EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
        }
    }
    test::TempFolder folder;
    std::string path = folder.file("values.txt");
    ValueStore store;
};

TEST_F(WindowsFileSystem, ReadOnlyFileIsNotReplaced) {
    ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
    expectFileError([&] { store.addDataValue("B"); }, error::permissionDenied);
    expectFileError([&] { store.clearAll(); }, error::permissionDenied);
    ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
    EXPECT_EQ(test::readBytes(path), kOld);
    EXPECT_EQ(folder.entries(), (std::set<std::string>{"values.txt"}));
}

TEST_F(WindowsFileSystem, FileHeldWithoutSharingIsNeitherReadNorReplaced) {
    qz::win32::UniqueFile held(
        ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    store.getDataValues(); // quiet: no values, no default content written over it
    EXPECT_TRUE(store.values().empty());
    ASSERT_TRUE(store.lastFileError());
    EXPECT_EQ(store.lastFileError()->number, error::permissionDenied);
    // The operations do not go on with what the failed load left in the working texts.
    expectFileError([&] { store.addDataValue("B"); }, error::permissionDenied);
    expectFileError([&] { store.rewriteDataValue("A"); }, error::permissionDenied);
    expectFileError([&] { store.removeDataValue("A"); }, error::permissionDenied);
    EXPECT_THROW(systemFileSystem().replaceFile(path, "x"), StoreError);
    held.close();
    EXPECT_EQ(test::readBytes(path), kOld);
    EXPECT_EQ(folder.entries(), (std::set<std::string>{"values.txt"}));
}

// Another handle holds the file readable but not replaceable, as a virus scanner or an indexer does:
// for half a second the save waits it out; held for good, the save fails and the old bytes stay.
TEST_F(WindowsFileSystem, SaveWaitsForAFileHeldForAMomentButNotForGood) {
    const auto holdReadable = [this] {
        return qz::win32::UniqueFile(::CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                                   nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    };
    qz::win32::UniqueFile held = holdReadable();
    ASSERT_TRUE(held);
    std::thread release([&held] {
        ::Sleep(500);
        held.close();
    });
    EXPECT_EQ(store.addDataValue("B"), Outcome::done);
    release.join();
    EXPECT_EQ(test::readBytes(path),
              "\"<BEGINVALUEDECLARE>(NULL)(A)(B)<ENDVALUEDECLARE>\"\r\n\"NULL (0)A (1) B (2) \"\r\n");
    EXPECT_FALSE(store.lastFileError());

    test::writeBytes(path, kOld);
    held = holdReadable();
    ASSERT_TRUE(held);
    expectFileError([&] { store.addDataValue("B"); }, error::permissionDenied);
    expectFileError([&] { store.clearAll(); }, error::permissionDenied);
    held.close();
    EXPECT_EQ(test::readBytes(path), kOld);
    EXPECT_EQ(folder.entries(), (std::set<std::string>{"values.txt"}));
}

// A relative path is replaced where it stands, taken from the current folder.
TEST_F(WindowsFileSystem, RelativePathIsReplacedInPlace) {
    char current[MAX_PATH] = {};
    ::GetCurrentDirectoryA(MAX_PATH, current);
    ASSERT_TRUE(::SetCurrentDirectoryA(folder.path().string().c_str()));
    path = "values.txt";
    store.addDataValue("B");
    ::SetCurrentDirectoryA(current);
    EXPECT_EQ(test::readBytes(folder.file("values.txt")),
              "\"<BEGINVALUEDECLARE>(NULL)(A)(B)<ENDVALUEDECLARE>\"\r\n\"NULL (0)A (1) B (2) \"\r\n");
    EXPECT_EQ(folder.entries(), (std::set<std::string>{"values.txt"}));
}

} // namespace
} // namespace vs
