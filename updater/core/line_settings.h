#pragma once
// Line settings of a serial port and the "baud,parity,data,stop" text that names them. The
// settings travel as a LineSettings; a text is parsed once, where it comes in.
//
// Accepted text: four fields separated by commas, blanks allowed around each field
// ("19200, N, 8, 1", "57600,n,8,1"). Parity is one letter, any case: N none, E even, O odd,
// M mark, S space. Data bits 5 to 8. Stop bits 1, 1.5 or 2, where 1.5 goes only with 5 data
// bits and 2 not with 5 data bits (what a UART can produce). Baud rates: the standard ones
// listed in kStandardBaudRates.

#include <array>
#include <cstdint>
#include <optional>
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

// The outcome of parsing a settings text: the settings, or why the text was refused.
struct LineSettingsParse {
    std::optional<LineSettings> settings;
    std::string error; // set when settings is empty
};

LineSettingsParse parseLineSettings(std::string_view text);

// Why a line cannot run with these settings, in the parse's words ("invalid line settings
// \"9600,n,9,1\": data bits must be 5 to 8"); empty when it can.
std::string lineSettingsError(const LineSettings& settings);

// Canonical short form, as shown to the user: "57600,n,8,1", "9600,e,7,1.5".
std::string formatLineSettings(const LineSettings& settings);

// Time one character takes on the line (start bit, data, parity, stop bits), in microseconds.
std::uint32_t characterTimeMicros(const LineSettings& settings);

} // namespace qz
