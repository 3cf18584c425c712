// Settings file: the private-profile behaviour the updater relies on, run against every
// Profile available (the portable one everywhere, the platform's one in the Windows build),
// ReadSetting / WriteSetting on top of them, and the number and record texts.

#include "updater/tests/support/window_harness.h"

#include "updater/core/ini_profile.h"
#include "updater/core/settings.h"

#ifdef _WIN32
#include <windows.h>
#include "updater/win32/win32_profile.h"
#endif

#include <gtest/gtest.h>

#include <sstream>
#include <stdexcept>

namespace qz::test {
namespace {

struct ProfileKind {
    std::string name;
    Profile* profile;
};

std::vector<ProfileKind> availableProfiles() {
    std::vector<ProfileKind> kinds{{"Portable", &portableProfile()}};
#ifdef _WIN32
    static Win32Profile win32;
    kinds.push_back({"Win32", &win32});
#endif
    return kinds;
}

bool runningUnderWine() {
#ifdef _WIN32
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
#else
    return false;
#endif
}

class ProfileTest : public ::testing::TestWithParam<ProfileKind> {
protected:
    std::string read(const std::string& section, const std::string& key, std::size_t size = 255) {
        return profile.readString(section, key, "Default", size, file);
    }
    void write(const std::string& section, const std::string& key, const std::string& value) {
        EXPECT_TRUE(profile.writeString(section, key, value, file));
    }

    ScratchFolder folder;
    std::string file = folder.file("settings.ini");
    Profile& profile = *GetParam().profile;
};

TEST_P(ProfileTest, MissingFileSectionOrKeyGivesTheDefault) {
    EXPECT_EQ(read("Main", "Window Width"), "Default");
    writeBytes(file, "[Other]\r\nWindow Width=1\r\n[Main]\r\nWindow Height=2\r\n");
    EXPECT_EQ(read("Nope", "Window Width"), "Default");
    EXPECT_EQ(read("Main", "Window Width"), "Default");
    EXPECT_EQ(read("Main", "Window Height"), "2");
    // The default is cut to the buffer like a value.
    EXPECT_EQ(read("Main", "Window Top", 4), "Def");
}

TEST_P(ProfileTest, ReadRemovesBlanksAndOnePairOfEnclosingQuotes) {
    writeBytes(file, "[Main]\r\n"
                     "  A  =   spaced value   \r\n"
                     "B=\"  quoted  \"\r\n"
                     "C='single'\r\n"
                     "D=\"unbalanced\r\n"
                     "E=\"\"\"twice\"\"\"\r\n"
                     "F=\"\"\r\n"
                     "G=   \r\n"
                     "H=a=b\r\n"
                     "I=\"\r\n");
    EXPECT_EQ(read("Main", "A"), "spaced value");
    EXPECT_EQ(read("Main", "B"), "  quoted  ");
    EXPECT_EQ(read("Main", "C"), "single");
    EXPECT_EQ(read("Main", "D"), "\"unbalanced");
    EXPECT_EQ(read("Main", "E"), "\"\"twice\"\"");
    EXPECT_EQ(read("Main", "F"), "");
    EXPECT_EQ(read("Main", "G"), "");
    EXPECT_EQ(read("Main", "H"), "a=b");
    EXPECT_EQ(read("Main", "I"), "\"");
}

TEST_P(ProfileTest, SectionAndKeyNamesMatchWithoutLetterCase) {
    writeBytes(file, "[mAIN]\r\nwindow WIDTH=7860\r\n");
    EXPECT_EQ(read("Main", "Window Width"), "7860");
    EXPECT_EQ(read("MAIN", "window width"), "7860");
    write("main", "WINDOW width", "100");
    EXPECT_EQ(readBytes(file), "[mAIN]\r\nwindow WIDTH=100\r\n");
}

TEST_P(ProfileTest, LongValuesAreCutTo254Characters) {
    std::string big(300, 'z');
    big[0] = 'a';
    big[253] = 'Q';
    big[254] = 'R';
    writeBytes(file, "[Main]\r\nBig=" + big + "\r\nQuoted=\"" + big + "\"\r\n");
    const std::string expected = big.substr(0, 254);
    EXPECT_EQ(read("Main", "Big"), expected);
    EXPECT_EQ(read("Main", "Quoted"), expected);
}

TEST_P(ProfileTest, LinesBeforeTheFirstSectionAreNotKeys) {
    writeBytes(file, "Window Width=5\r\n\"C:\\a=b\"\r\n[Main]\r\nWindow Height=6\r\n");
    EXPECT_EQ(read("Main", "Window Width"), "Default");
    EXPECT_EQ(read("Main", "Window Height"), "6");
}

TEST_P(ProfileTest, WriteCreatesTheFileSectionAndKey) {
    write("Main", "Window Width", "7860");
    EXPECT_EQ(readBytes(file), "[Main]\r\nWindow Width=7860\r\n");
    writeBytes(file, "");
    write("Main", "Window Width", "7860");
    EXPECT_EQ(readBytes(file), "[Main]\r\nWindow Width=7860\r\n");
}

TEST_P(ProfileTest, WriteReplacesInPlaceAndAppendsNewSectionsAtTheEnd) {
    writeBytes(file, "[Main]\r\nA=1\r\nB=2\r\n[X]\r\nC=3\r\n");
    write("main", "b", "new");
    EXPECT_EQ(readBytes(file), "[Main]\r\nA=1\r\nB=new\r\n[X]\r\nC=3\r\n");
    write("X", "D", "4");
    EXPECT_EQ(readBytes(file), "[Main]\r\nA=1\r\nB=new\r\n[X]\r\nC=3\r\nD=4\r\n");
    write("Main", "E", "5");
    write("Y", "F", "6");
    EXPECT_EQ(readBytes(file), "[Main]\r\nA=1\r\nB=new\r\nE=5\r\n[X]\r\nC=3\r\nD=4\r\n[Y]\r\nF=6\r\n");
    EXPECT_EQ(read("Main", "B"), "new");
}

TEST_P(ProfileTest, WriteAfterALastLineWithoutLineEnd) {
    writeBytes(file, "[Main]\r\nA=1");
    write("Main", "B", "2");
    EXPECT_EQ(readBytes(file), "[Main]\r\nA=1\r\nB=2\r\n");
}

// The files the updater's shut-down leaves: the records, then the five keys.
TEST_P(ProfileTest, ShutDownLeavesTheSameBytesOnEveryProfile) {
    const char* keys[] = {"Window Width", "Window Height", "Window Top", "Window Left", "Window State"};
    const char* first[] = {"7980", "6810", "-120", "0", "0"};
    writeBytes(file, "0\r\n\"\"\r\n");
    for (int i = 0; i < 5; ++i) write("Main", keys[i], first[i]);
    EXPECT_EQ(readBytes(file), "0\r\n\"\"\r\n[Main]\r\nWindow Width=7980\r\nWindow Height=6810\r\n"
                               "Window Top=-120\r\nWindow Left=0\r\nWindow State=0\r\n");
    // The next shut-down rewrites the records first, which drops the section.
    writeBytes(file, "5\r\n\"C:\\fw, v2\\image,a.bin\"\r\n");
    for (int i = 0; i < 5; ++i) write("Main", keys[i], "12");
    EXPECT_EQ(readBytes(file), "5\r\n\"C:\\fw, v2\\image,a.bin\"\r\n[Main]\r\nWindow Width=12\r\n"
                               "Window Height=12\r\nWindow Top=12\r\nWindow Left=12\r\nWindow State=12\r\n");
}

TEST_P(ProfileTest, KeyWritesKeepARecordLineThatHoldsBlanksAroundAnEqualsSign) {
    if (GetParam().name == "Win32" && runningUnderWine()) {
        GTEST_SKIP() << "Wine's profile writer re-emits every line from its parsed keys";
    }
    writeBytes(file, "1\r\n\"C:\\a = b\\fw.bin\"\r\n");
    write("Main", "Window State", "0");
    EXPECT_EQ(readBytes(file), "1\r\n\"C:\\a = b\\fw.bin\"\r\n[Main]\r\nWindow State=0\r\n");
}

TEST_P(ProfileTest, ReadSettingAppliesTheDefaultRuleAndTrims) {
    writeBytes(file, "[Main]\r\nA=Default\r\nB=default\r\nC=   \r\nD=\"  7860  \"\r\nE=\"Default\"\r\n"
                     "F=\" Default\"\r\nG=" +
                         std::string(300, '9') + "\r\n");
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "A", file), "");
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "B", file), "default");
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "C", file), "");
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "D", file), "7860");
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "E", file), "");
    // Only the exact text "Default" is dropped; trimming comes after that test.
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "F", file), "Default");
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "G", file), std::string(254, '9'));
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "Missing", file), "");
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "A", folder.file("none.ini")), "");
}

TEST_P(ProfileTest, WriteSettingIntoAMissingFolderIsSilent) {
    const std::string nowhere = folder.file("missing") + "/sub/x.ini";
    Module2::WriteSetting(profile, "Main", "A", "1", nowhere);
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "A", nowhere), "");
}

TEST_P(ProfileTest, BinaryOrGarbledFilesReadWithoutHarm) {
    std::string binary;
    for (int i = 0; i < 4096; ++i) binary.push_back(static_cast<char>((i * 37 + 11) % 256));
    writeBytes(file, binary);
    (void)read("Main", "Window Width"); // any value; it must not crash
    writeBytes(file, "[Main\r\n=\r\n[]\r\n[Main]\r\nWindow Width");
    EXPECT_EQ(read("Main", "Window Width"), "Default");
}

INSTANTIATE_TEST_SUITE_P(Each, ProfileTest, ::testing::ValuesIn(availableProfiles()),
                         [](const auto& kind) { return kind.param.name; });

// A profile that ignores the buffer size, or fails by throwing.
class UnrulyProfile final : public Profile {
public:
    bool throws = false;
    std::string readString(std::string_view, std::string_view, std::string_view, std::size_t,
                           const std::filesystem::path&) override {
        if (throws) throw std::runtime_error("read failed");
        return "  " + std::string(300, 'x');
    }
    bool writeString(std::string_view, std::string_view, std::string_view, const std::filesystem::path&) override {
        if (throws) throw std::runtime_error("write failed");
        return true;
    }
};

TEST(ReadSettingTest, NeverReturnsMoreThan254CharactersAndSwallowsFailures) {
    UnrulyProfile profile;
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "K", "f.ini"), std::string(252, 'x'));
    profile.throws = true;
    EXPECT_EQ(Module2::ReadSetting(profile, "Main", "K", "f.ini"), "");
    EXPECT_NO_THROW(Module2::WriteSetting(profile, "Main", "K", "v", "f.ini"));
}

TEST(NumberTextTest, SinglesAreWrittenAsShortestPlainDecimals) {
    EXPECT_EQ(formatSingle(7860.0f), "7860");
    EXPECT_EQ(formatSingle(-120.0f), "-120");
    EXPECT_EQ(formatSingle(0.0f), "0");
    EXPECT_EQ(formatSingle(-0.0f), "0");
    EXPECT_EQ(formatSingle(0.5f), "0.5");
    EXPECT_EQ(formatSingle(1234567.0f), "1234567");
    EXPECT_EQ(formatSingle(123456789.0f), "123456800"); // seven significant digits, no exponent
    EXPECT_EQ(formatSingle(0.1f), "0.1");
    EXPECT_EQ(formatSingle(-0.000123f), "-0.000123");
}

TEST(NumberTextTest, ConversionsAcceptNumbersOnly) {
    EXPECT_EQ(parseSingle("7860"), 7860.0f);
    EXPECT_EQ(parseSingle(" -120 "), -120.0f);
    EXPECT_EQ(parseSingle("+1.5e3"), 1500.0f);
    for (const char* bad : {"", " ", "abc", "12abc", "1e99", "inf", "nan", "0x10", "--1", "1,5"}) {
        EXPECT_FALSE(parseSingle(bad).has_value()) << bad;
    }
    EXPECT_EQ(toInteger16("2"), std::int16_t{2});
    EXPECT_EQ(toInteger16("1.5"), std::int16_t{2});
    EXPECT_EQ(toInteger16("2.5"), std::int16_t{2});
    EXPECT_EQ(toInteger16("-32768"), std::int16_t{-32768});
    EXPECT_FALSE(toInteger16("32768").has_value());
    EXPECT_FALSE(toInteger16("x").has_value());
}

TEST(NumberTextTest, FirstRecordMustBeAWhole16BitNumber) {
    EXPECT_EQ(parseRecordInteger16("5"), std::int16_t{5});
    EXPECT_EQ(parseRecordInteger16(" -12 "), std::int16_t{-12});
    EXPECT_EQ(parseRecordInteger16("32767"), std::int16_t{32767});
    EXPECT_EQ(parseRecordInteger16("-32768"), std::int16_t{-32768});
    for (const char* bad : {"", "32768", "-32769", "70000", "99999999999999999999", "7.5", "1e1", "COM3", "-", "5 5"}) {
        EXPECT_FALSE(parseRecordInteger16(bad).has_value()) << bad;
    }
}

std::vector<std::optional<std::string>> fields(const std::string& text, int n) {
    std::istringstream in(text);
    RecordReader reader(in);
    std::vector<std::optional<std::string>> out;
    for (int i = 0; i < n; ++i) out.push_back(reader.next());
    return out;
}

TEST(RecordReaderTest, QuotedFieldsKeepCommasAndUnquotedOnesEndAtThem) {
    using F = std::vector<std::optional<std::string>>;
    EXPECT_EQ(fields("5\r\n\"C:\\a, b\\c,d.bin\"\r\n[Main]\r\n", 2), (F{"5", "C:\\a, b\\c,d.bin"}));
    EXPECT_EQ(fields("  5  ,x y  \n", 3), (F{"5", "x y", std::nullopt}));
    EXPECT_EQ(fields("\"ab\"junk,\"cd\"\r\n", 2), (F{"ab", "cd"}));
    EXPECT_EQ(fields("1\r\n\"\"\r\n", 3), (F{"1", "", std::nullopt}));
    EXPECT_EQ(fields("1\r\n\"C:\\trunc", 2), (F{"1", "C:\\trunc"}));
    EXPECT_EQ(fields("", 1), (F{std::nullopt}));
    EXPECT_EQ(formatPortAndFileRecords(-3, "C:\\a,b"), "-3\r\n\"C:\\a,b\"\r\n");
    EXPECT_EQ(formatPortAndFileRecords(7, std::nullopt), "7\r\n");
}

} // namespace
} // namespace qz::test
