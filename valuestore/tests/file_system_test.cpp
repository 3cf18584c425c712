// The platform's file system (POSIX natively, Win32 under Wine) and the store on real files.
#include <gtest/gtest.h>

#include "valuestore/core/value_store.h"
#include "valuestore/tests/support/memory_file_system.h"
#include "valuestore/tests/support/temp_folder.h"

namespace vs {
namespace {

using test::readBytes;
using test::writeBytes;

class SystemFileSystemTest : public ::testing::Test {
protected:
    test::TempFolder folder;
    FileSystem& fs = systemFileSystem();
};

TEST_F(SystemFileSystemTest, ReadsWholeFilesAndTellsMissingFromUnreachable) {
    const std::string path = folder.file("data.txt");
    EXPECT_FALSE(fs.readFile(path).has_value());
    writeBytes(path, std::string("a\r\nb\0c\x1a\xff", 8));
    EXPECT_EQ(fs.readFile(path), std::string("a\r\nb\0c\x1a\xff", 8));
    const std::string unreachable = folder.file("no-such-folder") + "/data.txt";
    try {
        fs.readFile(unreachable);
        FAIL() << "no error";
    } catch (const StoreError& e) {
        // The standard text, the path and the system's reason.
        EXPECT_EQ(e.number, error::pathNotFound);
        const std::string what = e.what();
        EXPECT_EQ(what.rfind("Path not found: '" + unreachable + "': ", 0), 0u) << what;
        EXPECT_GT(what.size(), ("Path not found: '" + unreachable + "': ").size()) << what;
    }
}

TEST_F(SystemFileSystemTest, ReplaceCreatesOrReplacesWithoutLeavingTemporaries) {
    const std::string path = folder.file("data.txt");
    fs.replaceFile(path, "first");
    EXPECT_EQ(readBytes(path), "first");
    fs.replaceFile(path, "second\r\n");
    EXPECT_EQ(readBytes(path), "second\r\n");
    EXPECT_EQ(folder.entries(), (std::set<std::string>{"data.txt"}));
    EXPECT_THROW(fs.replaceFile(folder.file("no-such-folder") + "/data.txt", "x"), StoreError);
    EXPECT_EQ(folder.entries(), (std::set<std::string>{"data.txt"}));
}

TEST_F(SystemFileSystemTest, RemoveDeletesOneFile) {
    const std::string path = folder.file("data.txt");
    writeBytes(path, "x");
    fs.removeFile(path);
    EXPECT_TRUE(folder.entries().empty());
    try {
        fs.removeFile(path);
        FAIL() << "no error";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.number, error::fileNotFound);
    }
}

TEST_F(SystemFileSystemTest, PathsThatNameNoSingleFile) {
    EXPECT_TRUE(fs.namesSingleFile(folder.file("data.txt")));
    EXPECT_FALSE(fs.namesSingleFile(folder.path().string()));
    EXPECT_FALSE(fs.namesSingleFile(folder.path().string() + "/"));
    EXPECT_FALSE(fs.namesSingleFile(folder.file("*.txt")));
    EXPECT_FALSE(fs.namesSingleFile(folder.file("a?.txt")));
    EXPECT_FALSE(fs.namesSingleFile(""));
    EXPECT_FALSE(fs.namesSingleFile("*.txt"));
}

class RealStoreTest : public SystemFileSystemTest {
protected:
    void SetUp() override {
        store.setDataFileSource([this] { return path; });
    }
    std::string path = folder.file("values.txt");
    test::RecordingWarner warner;
    ValueStore store{systemFileSystem(), &warner};
};

TEST_F(RealStoreTest, WorkedExampleOnDisk) {
    store.getDataValues();
    EXPECT_EQ(readBytes(path), kDefaultFileContent);
    store.setNewValueData("12");
    store.addDataValue("Speed");
    store.setNewValueData("auto");
    store.addDataValue("Mode");
    store.setNewValueData("15");
    store.rewriteDataValue("Speed");
    EXPECT_EQ(readBytes(path), test::fileBytes("<BEGINVALUEDECLARE>(NULL)(Speed)(Mode)<ENDVALUEDECLARE>",
                                               "NULL (0)Speed (15)  Mode (auto) "));
    store.removeDataValue("Speed");
    EXPECT_EQ(readBytes(path),
              test::fileBytes("<BEGINVALUEDECLARE>(NULL)(Mode)<ENDVALUEDECLARE>", "NULL (0)  Mode (auto) "));
    EXPECT_EQ(store.values(), (ValueStore::Values{{"NULL", "0"}, {"Mode", "auto"}}));
    store.clearAll();
    EXPECT_EQ(readBytes(path), kDefaultFileContent);
    EXPECT_EQ(folder.entries(), (std::set<std::string>{"values.txt"}));
    EXPECT_FALSE(store.lastFileError());
}

TEST_F(RealStoreTest, MissingFolderIsAQuietLoadButTheDefaultContentCannotBeWritten) {
    path = folder.file("missing") + "/values.txt";
    store.getDataValues(); // the folder is missing: not the missing-file case
    EXPECT_EQ(store.lastFileError()->number, error::pathNotFound);
    EXPECT_TRUE(folder.entries().empty());
}

TEST_F(RealStoreTest, PatternsAndFoldersAreNeverReadWrittenOrDeleted) {
#ifndef _WIN32
    // A legal file name here: it must still never be read, replaced or deleted.
    writeBytes(folder.file("*.txt"), "keep");
#endif
    const auto before = folder.entries();
    for (const std::string& p : {folder.file("*.txt"), folder.file("?"), folder.path().string(), std::string()}) {
        path = p;
        store.getDataValues();
        EXPECT_TRUE(store.values().empty()) << p;
        store.setNewValueData("1");
        store.addDataValue("A");
        store.rewriteDataValue("A");
        store.removeDataValue("A");
        store.clearAll();
    }
    EXPECT_EQ(folder.entries(), before);
#ifndef _WIN32
    EXPECT_EQ(readBytes(folder.file("*.txt")), "keep");
#endif
}

} // namespace
} // namespace vs
