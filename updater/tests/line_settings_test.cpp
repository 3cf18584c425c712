// Settings texts: the forms the updater uses, the general form, and what is refused.

#include "updater/core/line_settings.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

LineSettings parsed(std::string_view text) {
    const LineSettingsParse result = parseLineSettings(text);
    EXPECT_TRUE(result.settings.has_value()) << text << ": " << result.error;
    return result.settings.value_or(LineSettings{});
}

TEST(LineSettings, FormsTheUpdaterUses) {
    EXPECT_EQ(parsed("19200, N, 8, 1"), (LineSettings{19200, Parity::none, 8, StopBits::one}));
    EXPECT_EQ(parsed("9600,n,8,1"), (LineSettings{9600, Parity::none, 8, StopBits::one}));
    EXPECT_EQ(parsed("57600,n,8,1"), (LineSettings{57600, Parity::none, 8, StopBits::one}));
    EXPECT_EQ(parsed("9600, N, 8, 1"), (LineSettings{9600, Parity::none, 8, StopBits::one}));
}

TEST(LineSettings, EveryParityDataSizeAndStopBits) {
    EXPECT_EQ(parsed("115200,e,7,2"), (LineSettings{115200, Parity::even, 7, StopBits::two}));
    EXPECT_EQ(parsed(" 1200 ,O,6,1 "), (LineSettings{1200, Parity::odd, 6, StopBits::one}));
    EXPECT_EQ(parsed("300,m,8,2"), (LineSettings{300, Parity::mark, 8, StopBits::two}));
    EXPECT_EQ(parsed("110,S,5,1.5"), (LineSettings{110, Parity::space, 5, StopBits::onePointFive}));
    EXPECT_EQ(parsed("\t38400,\tn,\t8,\t1"), (LineSettings{38400, Parity::none, 8, StopBits::one}));
}

TEST(LineSettings, MalformedOrUnsupportedTextIsRefusedWithAReason) {
    for (const char* text : {"", "9600", "9600,n,8", "9600,n,8,1,0", "9600,,8,1", "96OO,n,8,1", "9601,n,8,1",
                             "-9600,n,8,1", "9600,x,8,1", "9600,no,8,1", "9600,n,9,1", "9600,n,4,1", "9600,n,8,3",
                             "9600,n,8,1.5", "9600,n,5,2", "9600 n 8 1", "9600;n;8;1", "9600,n,8 ,1x"}) {
        const LineSettingsParse result = parseLineSettings(text);
        EXPECT_FALSE(result.settings.has_value()) << '"' << text << '"';
        EXPECT_NE(result.error.find(text), std::string::npos) << result.error;
    }
}

TEST(LineSettings, ShortFormAndCharacterTime) {
    EXPECT_EQ(formatLineSettings(parsed("57600, N, 8, 1")), "57600,n,8,1");
    EXPECT_EQ(formatLineSettings(parsed("110,S,5,1.5")), "110,s,5,1.5");
    EXPECT_EQ(formatLineSettings(parsed("2400,E,7,2")), "2400,e,7,2");
    // 10 bits at 9600 baud; 12 bits at 1200 baud; 7.5 bits at 110 baud.
    EXPECT_EQ(characterTimeMicros(parsed("9600,n,8,1")), 1042u);
    EXPECT_EQ(characterTimeMicros(parsed("1200,e,8,2")), 10000u);
    EXPECT_EQ(characterTimeMicros(parsed("110,n,5,1.5")), 68182u);
}

} // namespace
} // namespace qz
