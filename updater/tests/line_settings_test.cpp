// Line settings: what a line refuses, with the reason, and the short form shown to the user.

#include "updater/core/line_settings.h"

#include <gtest/gtest.h>

namespace qz {
namespace {

TEST(LineSettings, WhatAUartCannotDoIsRefusedWithTheReason) {
    const struct {
        LineSettings settings;
        const char* error;
    } refused[] = {
        {{9601, Parity::none, 8, StopBits::one}, "invalid line settings \"9601,n,8,1\": unsupported baud rate"},
        {{9600, Parity::none, 9, StopBits::one}, "invalid line settings \"9600,n,9,1\": data bits must be 5 to 8"},
        {{9600, Parity::none, 4, StopBits::one}, "invalid line settings \"9600,n,4,1\": data bits must be 5 to 8"},
        {{9600, Parity::none, 8, StopBits::onePointFive},
         "invalid line settings \"9600,n,8,1.5\": 1.5 stop bits need 5 data bits"},
        {{9600, Parity::none, 5, StopBits::two},
         "invalid line settings \"9600,n,5,2\": 2 stop bits cannot go with 5 data bits"},
    };
    for (const auto& [settings, error] : refused) EXPECT_EQ(lineSettingsError(settings), error);
    for (const LineSettings accepted : {LineSettings{57600, Parity::none, 8, StopBits::one},
                                        LineSettings{110, Parity::space, 5, StopBits::onePointFive},
                                        LineSettings{921600, Parity::mark, 7, StopBits::two}})
        EXPECT_EQ(lineSettingsError(accepted), "") << formatLineSettings(accepted);
}

TEST(LineSettings, ShortFormAndCharacterTime) {
    EXPECT_EQ(formatLineSettings({57600, Parity::none, 8, StopBits::one}), "57600,n,8,1");
    EXPECT_EQ(formatLineSettings({110, Parity::space, 5, StopBits::onePointFive}), "110,s,5,1.5");
    EXPECT_EQ(formatLineSettings({2400, Parity::even, 7, StopBits::two}), "2400,e,7,2");
    EXPECT_EQ(formatLineSettings({1200, Parity::odd, 6, StopBits::one}), "1200,o,6,1");
    // 10 bits at 9600 baud; 12 bits at 1200 baud; 7.5 bits at 110 baud.
    EXPECT_EQ(characterTimeMicros({9600, Parity::none, 8, StopBits::one}), 1042u);
    EXPECT_EQ(characterTimeMicros({1200, Parity::even, 8, StopBits::two}), 10000u);
    EXPECT_EQ(characterTimeMicros({110, Parity::none, 5, StopBits::onePointFive}), 68182u);
}

} // namespace
} // namespace qz
