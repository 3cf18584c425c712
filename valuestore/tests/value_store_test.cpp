// The store's operations over an in-memory file system: the worked examples byte for byte, the quiet
// ends of a load, the name rules, and the mended behaviours (own entries, refused input, silent saves).
#include <gtest/gtest.h>

#include <iterator>
#include <random>

#include "valuestore/core/value_store.h"
#include "valuestore/tests/support/memory_file_system.h"
#include "valuestore/tests/support/reference_store.h"
#include "valuestore/tests/support/store_against_model.h"

namespace vs {
namespace {

using test::fileBytes;
using Pairs = ValueStore::Values;

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        store.setDataFileSource([this] { return path; });
    }

    // The bytes of a data file that holds these working texts.
    static std::string stored(std::string_view declarations, std::string_view values) {
        return fileBytes("<BEGINVALUEDECLARE>" + std::string(declarations) + "<ENDVALUEDECLARE>", values);
    }
    void write(std::string_view declarations, std::string_view values) {
        fs.files[path] = stored(declarations, values);
    }
    std::string file() const { return fs.files.count(path) ? fs.files.at(path) : "(missing)"; }
    Pairs load() {
        store.getDataValues();
        return store.values();
    }
    Outcome add(const std::string& name, const std::string& data) {
        store.setNewValueData(data);
        return store.addDataValue(name);
    }
    Outcome rewrite(const std::string& name, const std::string& data) {
        store.setNewValueData(data);
        return store.rewriteDataValue(name);
    }

    std::string path = "data.txt";
    test::MemoryFileSystem fs;
    test::RecordingWarner warner;
    ValueStore store{fs, &warner};
};

TEST_F(StoreTest, WorkedExampleByteForByte) {
    fs.files[path] = std::string(kDefaultFileContent);
    EXPECT_EQ(add("Speed", "12"), Outcome::done);
    EXPECT_EQ(file(), stored("(NULL)(Speed)", "NULL (0)Speed (12) "));
    add("Mode", "auto");
    EXPECT_EQ(file(), stored("(NULL)(Speed)(Mode)", "NULL (0)Speed (12) Mode (auto) "));
    EXPECT_EQ(rewrite("Speed", "15"), Outcome::done);
    EXPECT_EQ(file(), stored("(NULL)(Speed)(Mode)", "NULL (0)Speed (15)  Mode (auto) "));
    EXPECT_EQ(store.removeDataValue("Speed"), Outcome::done);
    EXPECT_EQ(file(), stored("(NULL)(Mode)", "NULL (0)  Mode (auto) "));
    EXPECT_EQ(store.declarationText(), "(NULL)(Mode)");
    EXPECT_EQ(store.valueText(), "NULL (0)  Mode (auto) ");
    EXPECT_EQ(store.values(), (Pairs{{"NULL", "0"}, {"Mode", "auto"}}));
    EXPECT_EQ(warner.warnings, 0);
}

TEST_F(StoreTest, MissingFileGetsDefaultContentWhichTheNextLoadReads) {
    EXPECT_TRUE(load().empty());
    EXPECT_EQ(file(), "\"<BEGINVALUEDECLARE>(NULL)<ENDVALUEDECLARE>\"\r\n\"NULL (0)\"\r\n");
    EXPECT_EQ(store.declarationText(), "");
    EXPECT_EQ(load(), (Pairs{{"NULL", "0"}}));
    EXPECT_EQ(*store.find("null"), "0");
    EXPECT_EQ(load(), (Pairs{{"NULL", "0"}})); // a second load of an unchanged file gives the same
}

TEST_F(StoreTest, FirstAddOnMissingFileDoesNotKeepTheDefaultValue) {
    add("Speed", "12");
    EXPECT_EQ(file(), stored("(Speed)", "Speed (12) "));
}

TEST_F(StoreTest, FailingToWriteTheDefaultContentRaisesTheFileError) {
    fs.writeFailure = error::permissionDenied;
    try {
        store.getDataValues();
        FAIL() << "no error";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.number, 70);
        EXPECT_EQ(std::string(e.what()).rfind("Permission denied: 'data.txt': ", 0), 0u) << e.what();
    }
    EXPECT_TRUE(store.values().empty());
    EXPECT_THROW(store.removeDataValue("NULL"), StoreError);
    EXPECT_THROW(add("A", "1"), StoreError);
    EXPECT_EQ(file(), "(missing)");
}

// add, rewrite and remove never save after a load that did not read the whole store from an existing
// file: they raise the file error, naming the path, and the file stays byte for byte.
TEST_F(StoreTest, NoSaveAfterAFailedOrPartialLoad) {
    const std::string whole = stored("(NULL)(Speed)", "NULL (0)Speed (12) ");
    struct Case {
        std::string bytes;
        std::optional<int> readFailure;
        int number;
    } cases[] = {
        {whole + "\r\n", {}, error::pathFileAccessError},           // a trailing blank line would become the value text
        {whole + "\"X (1) \"\r\n", {}, error::pathFileAccessError}, // a second value line
        {"\"<BEGINVALUEDECLARE>(NULL)<ENDVALUEDECLARE>\"\r\n", {}, error::pathFileAccessError}, // no value line
        {"\"<BEGINVALUEDECLARE>(NULL)<ENDVALUEDECLARE>\"\n\"NULL (0)\"\n", {}, error::pathFileAccessError},
        {"<BEGINVALUEDECLARE>(NULL)<ENDVALUEDECLARE>\r\nNULL (0)\r\n", {}, error::pathFileAccessError}, // no quotes
        {whole, error::permissionDenied, error::permissionDenied}, // unreadable, locked
    };
    store.setAutomaticRewrite(true); // an add of a taken name goes on to a rewrite
    for (const Case& c : cases) {
        fs.files[path] = c.bytes;
        fs.readFailure = c.readFailure;
        fs.log.clear();
        store.getDataValues(); // a load alone stays quiet
        for (const char* name : {"B", "Speed"}) {
            store.setNewValueData("1");
            for (int op = 0; op < 3; ++op) {
                try {
                    op == 0   ? store.addDataValue(name)
                    : op == 1 ? store.rewriteDataValue(name)
                              : store.removeDataValue(name);
                    ADD_FAILURE() << "op " << op << " on " << c.bytes;
                } catch (const StoreError& e) {
                    EXPECT_EQ(e.number, c.number) << c.bytes;
                    EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
                }
            }
        }
        EXPECT_EQ(file(), c.bytes);
        for (const std::string& entry : fs.log) EXPECT_EQ(entry.rfind("read", 0), 0u) << entry;
    }

    // A missing file, an empty file and the files the store writes (here with a load that ends early,
    // at a name declared twice without regard to case) take every operation.
    fs.readFailure.reset();
    fs.files[path] = "";
    EXPECT_EQ(add("A", "1"), Outcome::done);
    EXPECT_EQ(file(), stored("(A)", "A (1) "));
    write("(Speed)(SPEED)", "Speed (1) SPEED (2) ");
    EXPECT_EQ(store.removeDataValue("SPEED"), Outcome::done);
    EXPECT_EQ(file(), stored("(Speed)", "Speed (1)  "));
}

TEST_F(StoreTest, EachRewriteAddsOneSpaceBehindTheEntry) {
    write("(NULL)(Speed)", "NULL (0)Speed (12) ");
    rewrite("Speed", "1");
    rewrite("Speed", "2");
    rewrite("Speed", "3");
    EXPECT_EQ(file(), stored("(NULL)(Speed)", "NULL (0)Speed (3)    "));
    EXPECT_EQ(load(), (Pairs{{"NULL", "0"}, {"Speed", "3"}}));
}

TEST_F(StoreTest, LineEndsAndLineKinds) {
    // Declaration line second, lines ended by a lone CR, a lone LF inside the value line.
    fs.files[path] = "\"A (x\ny) B (2) \"\r\"<BEGINVALUEDECLARE>(A)(B)<ENDVALUEDECLARE>\"";
    EXPECT_EQ(load(), (Pairs{{"A", "x\ny"}, {"B", "2"}}));
    // Extra lines: the last of each kind wins.
    fs.files[path] = fileBytes("<BEGINVALUEDECLARE>(Z)<ENDVALUEDECLARE>", "Z (old) ") +
                     fileBytes("<BEGINVALUEDECLARE>(A)<ENDVALUEDECLARE>", "A (new) ");
    EXPECT_EQ(load(), (Pairs{{"A", "new"}}));
    // An empty line at the end replaces the value text: the load ends while stripping.
    fs.files[path] = fileBytes("<BEGINVALUEDECLARE>(A)<ENDVALUEDECLARE>", "A (1) ") + "\r\n";
    EXPECT_TRUE(load().empty());
    EXPECT_EQ(store.valueText(), "");
}

TEST_F(StoreTest, FileWithoutValueLineKeepsTheOldValueText) {
    write("(A)", "zA (1)z");
    EXPECT_EQ(load(), (Pairs{{"A", "1"}}));
    fs.files[path] = "\"<BEGINVALUEDECLARE>(A)<ENDVALUEDECLARE>\"\r\n";
    // The old, already stripped value text is stripped again by position.
    EXPECT_EQ(load(), (Pairs{{"A", "1"}}));
    EXPECT_EQ(store.valueText(), "A (1)");
}

TEST_F(StoreTest, QuietEndsOfALoad) {
    struct Case {
        std::string file;
        Pairs expected;
    } cases[] = {
        {"", {}}, // empty file
        {fileBytes("<BEGINVALUEDECLARE>(A)(B)<ENDVALUEDECLARE>", "A (1) B (2) "), {{"A", "1"}, {"B", "2"}}},
        {fileBytes("<BEGINVALUEDECLARE>(A)(B)xyz<ENDVALUEDECLARE>", "A (1) B (2) "), {{"A", "1"}, {"B", "2"}}},
        {fileBytes("<BEGINVALUEDECLARE>(A)(B<ENDVALUEDECLARE>", "A (1) B (2) "), {{"A", "1"}}},
        {fileBytes("<BEGINVALUEDECLARE>(A)(C)(B)<ENDVALUEDECLARE>", "A (1) B (2) "), {{"A", "1"}}}, // no entry for C
        {fileBytes("<BEGINVALUEDECLARE>(A)(B)<ENDVALUEDECLARE>", "A (1) B 2 "), {{"A", "1"}}},      // no "("
        {fileBytes("<BEGINVALUEDECLARE>(A)(B)<ENDVALUEDECLARE>", "A (1) B (2"), {{"A", "1"}}},      // no ")"
        {fileBytes("<BEGINVALUEDECLARE>(X)<ENDVALUEDECLARE>", "X (a)b) "), {{"X", "a"}}},           // cut at ")"
        {fileBytes("<BEGINVALUEDECLARE>(NULL)(Speed)(Mode)(Mode)<ENDVALUEDECLARE>", "NULL (0)Speed (12) Mode (auto) "),
         {{"NULL", "0"}, {"Speed", "12"}, {"Mode", "auto"}}},
        {fileBytes("<BEGINVALUEDECLARE>(Speed)(SPEED)(A)<ENDVALUEDECLARE>", "Speed (1) SPEED (2) A (3) "),
         {{"Speed", "1"}}},
        {fileBytes("<BEGINVALUEDECLARE>(A)<ENDVALUE", "A (1) "), {}}, // declaration line too short
        {"\"\"\r\n", {}},
    };
    for (const Case& c : cases) {
        fs.files[path] = c.file;
        EXPECT_EQ(load(), c.expected) << c.file;
        // The fast enumeration agrees with the plain rendering of the rules, working texts included.
        const auto reference = test::referenceLoad(c.file, "", "");
        EXPECT_EQ(store.values(), reference.published) << c.file;
    }
}

TEST_F(StoreTest, LoadKeepsTheFirstOccurrenceRule) {
    // 'B' first occurs inside A's data, and the first "(" after it opens C's data.
    write("(A)(C)(B)", "A (B) C (3) B (2) ");
    EXPECT_EQ(load(), (Pairs{{"A", "B"}, {"C", "3"}, {"B", "3"}}));
}

TEST_F(StoreTest, RewriteAndRemoveTouchOnlyTheValuesOwnDeclarationAndEntry) {
    write("(NULL)(X)", "NULL (0)X (Speed) ");
    add("Speed", "12");
    EXPECT_EQ(file(), stored("(NULL)(X)(Speed)", "NULL (0)X (Speed) Speed (12) "));
    EXPECT_EQ(rewrite("Speed", "15"), Outcome::done);
    EXPECT_EQ(file(), stored("(NULL)(X)(Speed)", "NULL (0)X (Speed) Speed (15)  "));

    write("(A)(C)(B)", "A (B) C (3) B (2) ");
    rewrite("B", "9");
    EXPECT_EQ(file(), stored("(A)(C)(B)", "A (B) C (3) B (9)  "));
    EXPECT_EQ(store.removeDataValue("B"), Outcome::done);
    EXPECT_EQ(file(), stored("(A)(C)", "A (B) C (3)   "));

    // A name inside a longer one: 'Spe' has no declaration or entry of its own.
    write("(NULL)(Speed)", "NULL (0)Speed (12) ");
    const std::string before = file();
    EXPECT_EQ(store.removeDataValue("Spe"), Outcome::notFound);
    EXPECT_EQ(rewrite("Spe", "1"), Outcome::notFound);
    EXPECT_EQ(rewrite("peed", "1"), Outcome::notFound);
    EXPECT_EQ(file(), before);
}

TEST_F(StoreTest, NamesThatDifferOnlyInLeadingSpaces) {
    fs.files[path] = std::string(kDefaultFileContent);
    add(" y", "1");
    add("  y", "2"); // passes: "  y" does not occur in "( y)"
    rewrite("  y", "3");
    rewrite(" y", "4");
    EXPECT_EQ(file(), stored("(NULL)( y)(  y)", "NULL (0) y (4)    y (3)  "));
    store.removeDataValue(" y");
    EXPECT_EQ(file(), stored("(NULL)(  y)", "NULL (0)    y (3)  "));
    // Now entries and declarations still line up, so "  y" is found behind the wider spacing.
    store.removeDataValue("  y");
    EXPECT_EQ(file(), stored("(NULL)", "NULL (0)    "));
}

TEST_F(StoreTest, EntriesOutOfStepWithDeclarations) {
    // Entries in another order than the declarations, one entry without a declaration.
    write("(A)(B)", "B (2) Z (0) A (1) ");
    rewrite("A", "x");
    EXPECT_EQ(file(), stored("(A)(B)", "B (2) Z (0) A (x)  "));
    // An entry that two declared names would fit is left alone.
    write("(y)( y)(Q)", " y (1) Q (2) ");
    EXPECT_EQ(rewrite("y", "9"), Outcome::notFound);
    EXPECT_EQ(file(), stored("(y)( y)(Q)", " y (1) Q (2) "));
}

TEST_F(StoreTest, EntryWithoutClosingParenthesisIsAnInvalidValue) {
    write("(NULL)(Speed)", "NULL (0)Speed (12");
    const std::string before = file();
    try {
        rewrite("Speed", "1");
        FAIL() << "no error";
    } catch (const StoreError& e) {
        EXPECT_EQ(e.number, error::invalidArgument);
    }
    EXPECT_EQ(store.valueText(), "NULL (0)Speed (12");
    EXPECT_THROW(store.removeDataValue("Speed"), StoreError);
    EXPECT_EQ(file(), before);
}

TEST_F(StoreTest, AmbiguousNames) {
    write("(NULL)(Speed)", "NULL (0)Speed (12) ");
    const std::string before = file();
    for (const char* name : {"Speed", "Spe", "eed", ")(S", "NULL", "(", ""}) {
        if (std::string_view(name).find_first_of("()") != std::string_view::npos) continue; // refused anyway
        EXPECT_EQ(add(name, "1"), Outcome::ambiguous) << name;
    }
    EXPECT_EQ(warner.warnings, 5);
    EXPECT_EQ(file(), before);

    EXPECT_EQ(add("MaxSpeed", "1"), Outcome::done);
    EXPECT_EQ(add("speed", "2"), Outcome::done);                                   // case-sensitive test
    EXPECT_EQ(load(), (Pairs{{"NULL", "0"}, {"Speed", "12"}, {"MaxSpeed", "1"}})); // the load ends at 'speed'
}

TEST_F(StoreTest, AutomaticRewriteRewritesTheTakenName) {
    write("(NULL)(Speed)", "NULL (0)Speed (12) ");
    store.setAutomaticRewrite(true);
    EXPECT_EQ(add("Speed", "20"), Outcome::done);
    EXPECT_EQ(file(), stored("(NULL)(Speed)", "NULL (0)Speed (20)  "));
    // A semi-ambiguous name has no entry of its own: nothing changes.
    EXPECT_EQ(add("Spe", "30"), Outcome::notFound);
    EXPECT_EQ(file(), stored("(NULL)(Speed)", "NULL (0)Speed (20)  "));
    EXPECT_EQ(warner.warnings, 0);
}

TEST_F(StoreTest, AddDetails) {
    write("(NULL)", "NULL (0)");
    load();
    add("Speed", "");
    EXPECT_EQ(file(), stored("(NULL)(Speed)", "NULL (0)Speed () "));
    EXPECT_EQ(store.values(), (Pairs{{"NULL", "0"}})); // no second load
    EXPECT_EQ(store.newValueData(), "");
    // Quotes and the end marker are harmless in names and data.
    add("q\"", "<ENDVALUEDECLARE>\"");
    EXPECT_EQ(load(), (Pairs{{"NULL", "0"}, {"Speed", ""}, {"q\"", "<ENDVALUEDECLARE>\""}}));
}

TEST_F(StoreTest, RewriteOfAnUnknownNameChangesNothing) {
    write("(NULL)", "NULL (0)");
    const std::string before = file();
    EXPECT_EQ(rewrite("Speed", "1"), Outcome::notFound);
    EXPECT_EQ(store.removeDataValue("Speed"), Outcome::notFound);
    EXPECT_EQ(file(), before);
    EXPECT_EQ(warner.warnings, 0);
}

TEST_F(StoreTest, RemoveDetails) {
    write("(NULL)(Speed)", "NULL (0)Speed (12) ");
    load();
    const auto loads = store.loadCount();
    store.removeDataValue("Speed");
    EXPECT_EQ(store.loadCount(), loads + 2); // the load before and the one after
    EXPECT_EQ(store.values(), (Pairs{{"NULL", "0"}}));

    fs.files[path] = std::string(kDefaultFileContent);
    store.removeDataValue("NULL");
    EXPECT_EQ(file(), "\"<BEGINVALUEDECLARE><ENDVALUEDECLARE>\"\r\n\"\"\r\n");
    EXPECT_TRUE(load().empty());
    // The empty store takes an empty name; RemoveDataValue refuses an empty name, before it reads or
    // writes anything, whether or not one is declared.
    add("", "e");
    EXPECT_EQ(file(), stored("()", " (e) "));
    for (int round = 0; round < 2; ++round) {
        fs.log.clear();
        try {
            store.removeDataValue("");
            ADD_FAILURE() << "an empty name was taken";
        } catch (const StoreError& e) {
            EXPECT_EQ(e.number, error::invalidArgument);
        }
        EXPECT_TRUE(fs.log.empty());
        fs.files[path] = std::string(kDefaultFileContent);
    }
    EXPECT_EQ(file(), kDefaultFileContent);
}

// A save that fails is an error; the old file stays, and the working texts are as they were before
// (holding the change; after a removal, reloaded from the unchanged file).
TEST_F(StoreTest, FailedSaveIsAnErrorAndKeepsTheOldFile) {
    write("(NULL)(Speed)", "NULL (0)Speed (12) ");
    const std::string before = file();
    fs.writeFailure = error::diskFull;
    auto expectDiskFull = [](auto&& operation) {
        try {
            operation();
            ADD_FAILURE() << "the failed save was not raised";
        } catch (const StoreError& e) {
            EXPECT_EQ(e.number, error::diskFull);
        }
    };
    expectDiskFull([&] { add("Mode", "auto"); });
    EXPECT_EQ(store.valueText(), "NULL (0)Speed (12) Mode (auto) ");
    expectDiskFull([&] { rewrite("Speed", "15"); });
    EXPECT_EQ(store.valueText(), "NULL (0)Speed (15)  ");
    expectDiskFull([&] { store.removeDataValue("Speed"); });
    EXPECT_EQ(store.values(), (Pairs{{"NULL", "0"}, {"Speed", "12"}}));
    expectDiskFull([&] { store.clearAll(); });
    EXPECT_EQ(file(), before);
    fs.writeFailure.reset();
    EXPECT_EQ(store.clearAll(), Outcome::done);
    EXPECT_FALSE(store.lastFileError());
}

TEST_F(StoreTest, ClearAll) {
    write("(NULL)(A)(B)", "NULL (0)A (1) B (2) ");
    load();
    const auto loads = store.loadCount();
    EXPECT_EQ(store.clearAll(), Outcome::done);
    EXPECT_EQ(file(), kDefaultFileContent);
    EXPECT_EQ(store.valueText(), "");
    EXPECT_EQ(store.declarationText(), "");
    EXPECT_EQ(store.values().size(), 3u); // kept until the next load
    EXPECT_EQ(store.loadCount(), loads);
    EXPECT_EQ(load(), (Pairs{{"NULL", "0"}}));
    // Replaces rather than deletes.
    for (const std::string& entry : fs.log) EXPECT_EQ(entry.rfind("remove", 0), std::string::npos) << entry;

    fs.files.clear();
    store.clearAll();
    EXPECT_EQ(file(), kDefaultFileContent);
}

TEST_F(StoreTest, PathsThatNameNoSingleFileAreNeverTouched) {
    fs.folders.insert("folder");
    for (const std::string p : {"*.txt", "", "folder", "a?.txt", "folder/", "dir\\", "folder/*"}) {
        path = p;
        fs.log.clear();
        EXPECT_TRUE(load().empty()) << p;
        EXPECT_EQ(store.lastFileError()->number, error::badFileName);
        add("A", "1");
        store.rewriteDataValue("A");
        store.removeDataValue("A");
        store.clearAll();
        EXPECT_TRUE(fs.log.empty()) << p << ": " << fs.log.front();
    }
    EXPECT_TRUE(fs.files.empty());
}

TEST_F(StoreTest, UnreadableFileEndsTheLoadQuietly) {
    write("(NULL)", "NULL (0)");
    load();
    fs.readFailure = error::permissionDenied;
    EXPECT_TRUE(load().empty());
    EXPECT_EQ(store.declarationText(), "(NULL)"); // working texts unchanged
    EXPECT_EQ(store.lastFileError()->number, 70);
    fs.readFailure.reset();
    path = "nofolder/data.txt";
    EXPECT_TRUE(load().empty());
    EXPECT_EQ(store.lastFileError()->number, error::pathNotFound);
}

TEST_F(StoreTest, PathIsReadAtEveryAccess) {
    int calls = 0;
    store.setDataFileSource([&] {
        ++calls;
        if (calls == 1) throw StoreError(13, "Type mismatch");
        return std::string("other.txt");
    });
    EXPECT_TRUE(load().empty());
    EXPECT_EQ(store.lastFileError()->number, 13);
    EXPECT_TRUE(load().empty()); // missing: the default content is written to the path read afresh
    EXPECT_EQ(fs.files.at("other.txt"), kDefaultFileContent);
    EXPECT_EQ(calls, 3);
}

TEST_F(StoreTest, RefusedInputChangesNothing) {
    write("(NULL)", "NULL (0)");
    load();
    const auto loads = store.loadCount();
    fs.log.clear();
    struct Case {
        std::string text, mentions;
    } cases[] = {{"a(b", "'('"},
                 {"a)b", "')'"},
                 {"a\rb", "(CR)"},
                 {"a\nb", "(LF)"},
                 {"x<BEGINVALUEDECLARE>", "'<BEGINVALUEDECLARE>'"}};
    for (const Case& c : cases) {
        auto expectRefused = [&](auto&& call, const char* what) {
            try {
                call();
                ADD_FAILURE() << "accepted " << what;
            } catch (const StoreError& e) {
                EXPECT_EQ(e.number, error::invalidArgument);
                EXPECT_NE(std::string(e.what()).find(c.mentions), std::string::npos) << e.what();
            }
        };
        store.setNewValueData("ok");
        expectRefused([&] { store.addDataValue(c.text); }, "name in add");
        expectRefused([&] { store.rewriteDataValue(c.text); }, "name in rewrite");
        expectRefused([&] { store.removeDataValue(c.text); }, "name in remove");
        store.setNewValueData(c.text);
        expectRefused([&] { store.addDataValue("Fine"); }, "data in add");
        expectRefused([&] { store.rewriteDataValue("NULL"); }, "data in rewrite");
    }
    EXPECT_TRUE(fs.log.empty());
    EXPECT_EQ(store.loadCount(), loads);
    EXPECT_EQ(store.declarationText(), "(NULL)");
}

// In a double-byte code page (932 here) names match whole characters: katakana A (0x83 0x41) holds the
// byte of "A", and ヂ (0x83 0x61) folds to it byte by byte, yet all three are different names.
TEST_F(StoreTest, DoubleByteNamesMatchWholeCharacters) {
    fs.lead = test::codePage932LeadBytes();
    const std::string katakanaA = "\x83\x41", katakanaDi = "\x83\x61";
    fs.files[path] = std::string(kDefaultFileContent);
    EXPECT_EQ(add(katakanaA, "1"), Outcome::done);
    EXPECT_EQ(add("A", "2"), Outcome::done);
    EXPECT_EQ(add(katakanaDi, "3"), Outcome::done);
    EXPECT_EQ(warner.warnings, 0);
    EXPECT_EQ(file(), fileBytes("<BEGINVALUEDECLARE>(NULL)(" + katakanaA + ")(A)(" + katakanaDi + ")<ENDVALUEDECLARE>",
                                "NULL (0)" + katakanaA + " (1) A (2) " + katakanaDi + " (3) "));
    EXPECT_EQ(load(), (Pairs{{"NULL", "0"}, {katakanaA, "1"}, {"A", "2"}, {katakanaDi, "3"}}));
    EXPECT_EQ(*store.find("a"), "2");
    EXPECT_EQ(rewrite("A", "4"), Outcome::done);
    EXPECT_EQ(store.removeDataValue("A"), Outcome::done);
    EXPECT_EQ(store.values(), (Pairs{{"NULL", "0"}, {katakanaA, "1"}, {katakanaDi, "3"}}));
}

TEST_F(StoreTest, PublishedValuesAreFoundWithoutRegardToCase) {
    write("(NULL)(Speed)(Mode)", "NULL (0)Speed (12) Mode (auto) ");
    load();
    EXPECT_EQ(*store.find("SPEED"), "12");
    EXPECT_EQ(*store.find("mode"), "auto");
    EXPECT_EQ(store.find("Spe"), nullptr);
}

// Random operation sequences over names that overlap each other and each other's data: the file and
// the working texts follow the model, and every load agrees with the plain rendering of the rules.
test::Step randomStep(std::mt19937& random) {
    static const std::vector<std::string> words = {"",  "a",    "b", "ab",  "ba", " a", "  a",
                                                   "A", "NULL", "N", "a b", "(",  "\r"};
    // Three adds, a rewrite, two removes, a clear and a load in nine; else the world changes.
    static constexpr test::Operation kOperations[] = {
        test::Operation::add,    test::Operation::add,    test::Operation::add,   test::Operation::rewrite,
        test::Operation::remove, test::Operation::remove, test::Operation::clear, test::Operation::load};
    test::Step step;
    step.name = words[random() % words.size()];
    step.data = words[random() % words.size()] + words[random() % words.size()];
    step.automaticRewrite = random() % 2 == 0;
    const unsigned op = static_cast<unsigned>(random() % 9);
    if (op < std::size(kOperations))
        step.operation = kOperations[op];
    else
        step.operation = random() % 2 ? test::Operation::loseFile : test::Operation::switchWriteFailure;
    return step;
}

TEST_F(StoreTest, RandomOperationsFollowTheModel) {
    std::mt19937 random(20240605);
    for (int round = 0; round < 40; ++round) {
        test::StoreAgainstModel run(error::permissionDenied);
        for (int step = 0; step < 60; ++step) {
            const test::Step next = randomStep(random);
            SCOPED_TRACE("round " + std::to_string(round) + " step " + std::to_string(step) + " op " +
                         std::to_string(static_cast<int>(next.operation)) + " name '" + next.name + "'");
            for (const std::string& difference : run.apply(next)) ADD_FAILURE() << difference;
            if (HasFailure()) return;
        }
    }
}

} // namespace
} // namespace vs
