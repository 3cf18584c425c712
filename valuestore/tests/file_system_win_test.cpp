// Windows specifics: a data file that is read-only or held open without sharing is never damaged by a
// save, and cannot be read while held.
#include <gtest/gtest.h>
#include <windows.h>

#include "support/temp_folder.h"
#include "value_store.h"

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
  test::TempFolder folder;
  std::string path = folder.file("values.txt");
  ValueStore store;
};

TEST_F(WindowsFileSystem, ReadOnlyFileIsNotReplaced) {
  ASSERT_TRUE(::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_READONLY));
  EXPECT_EQ(store.addDataValue("B"), Outcome::done);
  ASSERT_TRUE(store.lastFileError());
  EXPECT_EQ(store.lastFileError()->number, error::permissionDenied);
  store.clearAll();
  EXPECT_TRUE(store.lastFileError());
  ::SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  EXPECT_EQ(test::readBytes(path), kOld);
  EXPECT_EQ(folder.entries(), (std::set<std::string>{"values.txt"}));
}

TEST_F(WindowsFileSystem, FileHeldWithoutSharingIsNeitherReadNorReplaced) {
  const HANDLE held = ::CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  store.getDataValues();  // quiet: no values, no default content written over it
  EXPECT_TRUE(store.values().empty());
  ASSERT_TRUE(store.lastFileError());
  EXPECT_EQ(store.lastFileError()->number, error::permissionDenied);
  EXPECT_THROW(systemFileSystem().replaceFile(path, "x"), StoreError);
  ::CloseHandle(held);
  EXPECT_EQ(test::readBytes(path), kOld);
}

}  // namespace
}  // namespace vs
