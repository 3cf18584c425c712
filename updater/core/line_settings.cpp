#include "updater/core/line_settings.h"

#include <algorithm>

namespace qz {
namespace {

constexpr std::string_view kDataBitsRange = "data bits must be 5 to 8";

// What a UART cannot do with these settings; empty when it can.
std::string_view unsupported(const LineSettings& settings) {
    if (std::find(kStandardBaudRates.begin(), kStandardBaudRates.end(), settings.baud) == kStandardBaudRates.end())
        return "unsupported baud rate";
    if (settings.dataBits < 5 || settings.dataBits > 8) return kDataBitsRange;
    if (settings.stopBits == StopBits::onePointFive && settings.dataBits != 5) return "1.5 stop bits need 5 data bits";
    if (settings.stopBits == StopBits::two && settings.dataBits == 5) return "2 stop bits cannot go with 5 data bits";
    return {};
}

std::string refusal(std::string_view text, std::string_view why) {
    std::string error = "invalid line settings \"";
    error.append(text);
    error += "\": ";
    error.append(why);
    return error;
}

} // namespace

std::string lineSettingsError(const LineSettings& settings) {
    const auto why = unsupported(settings);
    return why.empty() ? std::string() : refusal(formatLineSettings(settings), why);
}

std::string formatLineSettings(const LineSettings& settings) {
    static constexpr char parityLetters[] = {'n', 'e', 'o', 'm', 's'};
    std::string text = std::to_string(settings.baud);
    text += ',';
    text += parityLetters[static_cast<int>(settings.parity)];
    text += ',';
    text += std::to_string(settings.dataBits);
    text += ',';
    switch (settings.stopBits) {
    case StopBits::one: text += '1'; break;
    case StopBits::onePointFive: text += "1.5"; break;
    case StopBits::two: text += '2'; break;
    }
    return text;
}

std::uint32_t characterTimeMicros(const LineSettings& settings) {
    // In half bits, so that 1.5 stop bits stay whole.
    std::uint32_t halfBits = 2 /* start */ + 2 * static_cast<std::uint32_t>(settings.dataBits);
    if (settings.parity != Parity::none) halfBits += 2;
    halfBits += settings.stopBits == StopBits::one ? 2 : settings.stopBits == StopBits::two ? 4 : 3;
    const std::uint64_t micros = (std::uint64_t{halfBits} * 1'000'000 + settings.baud) / (2ull * settings.baud);
    return static_cast<std::uint32_t>(micros);
}

} // namespace qz
