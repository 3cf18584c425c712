#include "updater/core/line_settings.h"

#include <algorithm>
#include <charconv>
#include <vector>

namespace qz {
namespace {

std::string_view trimBlanks(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

std::vector<std::string_view> splitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    for (;;) {
        const auto comma = text.find(',');
        fields.push_back(trimBlanks(text.substr(0, comma)));
        if (comma == std::string_view::npos) return fields;
        text.remove_prefix(comma + 1);
    }
}

std::optional<std::uint32_t> parseWhole(std::string_view field) {
    std::uint32_t value = 0;
    const auto* end = field.data() + field.size();
    const auto [ptr, ec] = std::from_chars(field.data(), end, value);
    if (field.empty() || ec != std::errc{} || ptr != end) return std::nullopt;
    return value;
}

std::optional<Parity> parseParity(std::string_view field) {
    if (field.size() != 1) return std::nullopt;
    switch (field.front()) {
    case 'N':
    case 'n': return Parity::none;
    case 'E':
    case 'e': return Parity::even;
    case 'O':
    case 'o': return Parity::odd;
    case 'M':
    case 'm': return Parity::mark;
    case 'S':
    case 's': return Parity::space;
    default: return std::nullopt;
    }
}

std::optional<StopBits> parseStopBits(std::string_view field) {
    if (field == "1") return StopBits::one;
    if (field == "1.5") return StopBits::onePointFive;
    if (field == "2") return StopBits::two;
    return std::nullopt;
}

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

LineSettingsParse refuse(std::string_view text, std::string_view why) {
    LineSettingsParse result;
    result.error = refusal(text, why);
    return result;
}

} // namespace

// Each field is checked as it is filled in, over settings that are valid otherwise, so that
// the first field in the text that is wrong is the one named.
LineSettingsParse parseLineSettings(std::string_view text) {
    const auto fields = splitFields(text);
    if (fields.size() != 4) return refuse(text, "expected baud,parity,data,stop");

    LineSettings settings;
    const auto baud = parseWhole(fields[0]);
    if (!baud) return refuse(text, "the baud rate is not a number");
    settings.baud = *baud;
    if (const auto why = unsupported(settings); !why.empty()) return refuse(text, why);

    const auto parity = parseParity(fields[1]);
    if (!parity) return refuse(text, "parity must be one of N, E, O, M, S");
    settings.parity = *parity;

    const auto dataBits = parseWhole(fields[2]);
    if (!dataBits || *dataBits > 8) return refuse(text, kDataBitsRange);
    settings.dataBits = static_cast<int>(*dataBits);
    if (const auto why = unsupported(settings); !why.empty()) return refuse(text, why);

    const auto stopBits = parseStopBits(fields[3]);
    if (!stopBits) return refuse(text, "stop bits must be 1, 1.5 or 2");
    settings.stopBits = *stopBits;
    if (const auto why = unsupported(settings); !why.empty()) return refuse(text, why);

    LineSettingsParse result;
    result.settings = settings;
    return result;
}

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
