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

LineSettingsParse refuse(std::string_view text, std::string_view why) {
    LineSettingsParse result;
    result.error = "invalid line settings \"";
    result.error.append(text);
    result.error += "\": ";
    result.error.append(why);
    return result;
}

} // namespace

LineSettingsParse parseLineSettings(std::string_view text) {
    const auto fields = splitFields(text);
    if (fields.size() != 4) return refuse(text, "expected baud,parity,data,stop");

    const auto baud = parseWhole(fields[0]);
    if (!baud) return refuse(text, "the baud rate is not a number");
    if (std::find(kStandardBaudRates.begin(), kStandardBaudRates.end(), *baud) == kStandardBaudRates.end())
        return refuse(text, "unsupported baud rate");

    const auto parity = parseParity(fields[1]);
    if (!parity) return refuse(text, "parity must be one of N, E, O, M, S");

    const auto dataBits = parseWhole(fields[2]);
    if (!dataBits || *dataBits < 5 || *dataBits > 8) return refuse(text, "data bits must be 5 to 8");

    const auto stopBits = parseStopBits(fields[3]);
    if (!stopBits) return refuse(text, "stop bits must be 1, 1.5 or 2");
    if (*stopBits == StopBits::onePointFive && *dataBits != 5) return refuse(text, "1.5 stop bits need 5 data bits");
    if (*stopBits == StopBits::two && *dataBits == 5) return refuse(text, "2 stop bits cannot go with 5 data bits");

    LineSettingsParse result;
    result.settings = LineSettings{*baud, *parity, static_cast<int>(*dataBits), *stopBits};
    return result;
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
