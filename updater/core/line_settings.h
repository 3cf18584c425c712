#pragma once
// Line settings of a serial port, and the short "baud,parity,data,stop" text that shows them.
// A line runs with data bits 5 to 8 and stop bits 1, 1.5 or 2, where 1.5 goes only with 5 data
// bits and 2 not with 5 data bits (what a UART can produce), at one of kStandardBaudRates.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace qz {

enum class Parity { none, even, odd, mark, space };
enum class StopBits { one, onePointFive, two };

inline constexpr std::array<std::uint32_t, 17> kStandardBaudRates = {
    110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 57600, 115200, 128000, 230400, 256000, 460800, 921600};

struct LineSettings {
    std::uint32_t baud = 9600;
    Parity parity = Parity::none;
    int dataBits = 8;
    StopBits stopBits = StopBits::one;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Why a line cannot run with these settings, in the parse's words ("invalid line settings
// \"9600,n,9,1\": data bits must be 5 to 8"); empty when it can.
std::string lineSettingsError(const LineSettings& settings);

// Canonical short form, as shown to the user: "57600,n,8,1", "9600,e,7,1.5".
std::string formatLineSettings(const LineSettings& settings);

// Time one character takes on the line (start bit, data, parity, stop bits), in microseconds.
std::uint32_t characterTimeMicros(const LineSettings& settings);

} // namespace qz
