#include "updater/core/settings.h"

#include <cctype>
#include <charconv>
#include <cmath>
#include <exception>
#include <fstream>
#include <istream>
#include <limits>
#include <system_error>

namespace qz {

namespace {

// The keys of the window's geometry and state, in the order they are read and written.
constexpr std::string_view kSection = "Main";
constexpr std::array<std::string_view, 4> kGeometryKeys{"Window Width", "Window Height", "Window Top", "Window Left"};
constexpr std::string_view kStateKey = "Window State";

bool isBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view trimBlanks(std::string_view s) {
    while (!s.empty() && isBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && isBlank(s.back())) s.remove_suffix(1);
    return s;
}

// A decimal number with optional sign, fraction and exponent; no "inf", "nan" or hex.
std::optional<double> parseDecimal(std::string_view text) {
    text = trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty() || !(std::isdigit(static_cast<unsigned char>(text.front())) || text.front() == '.')) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (ec != std::errc{} || end != text.data() + text.size() || !std::isfinite(value)) return std::nullopt;
    return negative ? -value : value;
}

} // namespace

namespace Module2 {

std::string ReadSetting(Profile& profile, std::string_view section, std::string_view key,
                        const std::filesystem::path& file) {
    try {
        // A 255-character buffer: at most 254 characters come back.
        std::string value = profile.readString(section, key, "Default", 255, file);
        if (value.size() > 254) value.resize(254);
        if (value == "Default") value.clear();
        std::string_view v = value;
        while (!v.empty() && v.front() == ' ') v.remove_prefix(1);
        while (!v.empty() && v.back() == ' ') v.remove_suffix(1);
        return std::string(v);
    } catch (const std::exception&) {
        return {};
    }
}

void WriteSetting(Profile& profile, std::string_view section, std::string_view key, std::string_view value,
                  const std::filesystem::path& file) {
    try {
        profile.writeString(section, key, value, file);
    } catch (const std::exception&) {
        // Silent by design: the caller sees nothing.
    }
}

} // namespace Module2

std::string formatSingle(float value) {
    if (value == 0 || !std::isfinite(value)) return "0";
    // Seven significant digits, then written out without an exponent.
    char buf[32];
    const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific, 6);
    if (ec != std::errc{}) return "0";
    const std::string_view sci(buf, static_cast<std::size_t>(end - buf)); // [-]d.dddddde[+-]XX
    const bool negative = sci.front() == '-';
    const std::size_t mantissaStart = negative ? 1 : 0;
    const std::size_t e = sci.find('e');
    std::string digits;
    for (std::size_t i = mantissaStart; i < e; ++i) {
        if (sci[i] != '.') digits.push_back(sci[i]);
    }
    int exponent = 0;
    std::string_view expText = sci.substr(e + 1);
    if (!expText.empty() && expText.front() == '+') expText.remove_prefix(1);
    std::from_chars(expText.data(), expText.data() + expText.size(), exponent);

    // digits = d1 d2 ... d7, value = d1.d2...d7 * 10^exponent
    std::string integerPart, fraction;
    const int pointAt = exponent + 1; // digits before the decimal point
    if (pointAt <= 0) {
        integerPart = "0";
        fraction = std::string(static_cast<std::size_t>(-pointAt), '0') + digits;
    } else if (static_cast<std::size_t>(pointAt) >= digits.size()) {
        integerPart = digits + std::string(static_cast<std::size_t>(pointAt) - digits.size(), '0');
    } else {
        integerPart = digits.substr(0, static_cast<std::size_t>(pointAt));
        fraction = digits.substr(static_cast<std::size_t>(pointAt));
    }
    while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
    std::string out = negative ? "-" : "";
    out += integerPart;
    if (!fraction.empty()) out += "." + fraction;
    return out;
}

std::optional<float> parseSingle(std::string_view text) {
    const auto value = parseDecimal(text);
    if (!value || std::fabs(*value) > std::numeric_limits<float>::max()) return std::nullopt;
    return static_cast<float>(*value);
}

std::optional<std::int16_t> toInteger16(std::string_view text) {
    const auto value = parseDecimal(text);
    if (!value) return std::nullopt;
    // Round half to even.
    double whole = std::floor(*value);
    const double rest = *value - whole;
    if (rest > 0.5 || (rest == 0.5 && std::fmod(whole, 2.0) != 0)) whole += 1;
    if (whole < -32768.0 || whole > 32767.0) return std::nullopt;
    return static_cast<std::int16_t>(whole);
}

std::optional<std::int16_t> parseRecordInteger16(std::string_view text) {
    text = trimBlanks(text);
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    long value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > 32768) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > 32767) return std::nullopt;
    return static_cast<std::int16_t>(value);
}

void RecordReader::consumeDelimiter() {
    const int c = in_.peek();
    if (c == ',') {
        in_.get();
    } else if (c == '\r') {
        in_.get();
        if (in_.peek() == '\n') in_.get();
    } else if (c == '\n') {
        in_.get();
    }
}

std::optional<std::string> RecordReader::next() {
    using Traits = std::istream::traits_type;
    const auto eof = Traits::eof();
    int c = in_.peek();
    while (c == ' ' || c == '\t') {
        in_.get();
        c = in_.peek();
    }
    quoted_ = false;
    if (c == eof) return std::nullopt;

    std::string value;
    if (c == '"') {
        quoted_ = true;
        in_.get();
        // Runs to the next double quote (or the end of the file).
        while ((c = in_.get()) != eof && c != '"') {
            value.push_back(Traits::to_char_type(c));
            if (value.size() > kMaxFieldLength) return std::nullopt;
        }
        if (c == '"') {
            // Anything between the closing quote and the delimiter is dropped.
            while ((c = in_.peek()) != eof && c != ',' && c != '\r' && c != '\n') in_.get();
            consumeDelimiter();
        }
        return value;
    }
    while ((c = in_.peek()) != eof && c != ',' && c != '\r' && c != '\n') {
        value.push_back(Traits::to_char_type(in_.get()));
        if (value.size() > kMaxFieldLength) return std::nullopt;
    }
    while (!value.empty() && isBlank(value.back())) value.pop_back();
    consumeDelimiter();
    return value;
}

std::string formatPortAndFileRecords(std::int16_t comPort, std::optional<std::string_view> fileText) {
    std::string out = std::to_string(comPort);
    out += "\r\n";
    if (!fileText) return out;
    out += '"';
    out += *fileText;
    out += "\"\r\n";
    return out;
}

PortAndFile readPortAndFile(const std::filesystem::path& file) {
    PortAndFile records;
    std::ifstream in(file, std::ios::binary);
    if (!in) return records;
    RecordReader reader(in);
    const auto port = reader.next();
    if (!port) return records;
    records.comPort = parseRecordInteger16(*port);
    auto fileField = reader.next();
    records.whole = records.comPort && fileField;
    if (fileField && (records.comPort || reader.lastWasQuoted())) records.fileText = std::move(fileField);
    return records;
}

bool writePortAndFile(const std::filesystem::path& file, std::int16_t comPort,
                      const std::optional<std::string>& fileText) {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    const std::string records = formatPortAndFileRecords(comPort, fileText);
    out.write(records.data(), static_cast<std::streamsize>(records.size()));
    out.close();
    return out && fileText;
}

WindowSettings readWindowSettings(Profile& profile, const std::filesystem::path& file) {
    WindowSettings settings;
    for (std::size_t i = 0; i < kGeometryKeys.size(); ++i) {
        settings.geometry[i] = parseSingle(Module2::ReadSetting(profile, kSection, kGeometryKeys[i], file));
    }
    settings.state = toInteger16(Module2::ReadSetting(profile, kSection, kStateKey, file));
    return settings;
}

void writeWindowSettings(Profile& profile, const std::filesystem::path& file, const WindowSettings& settings) {
    for (std::size_t i = 0; i < kGeometryKeys.size(); ++i) {
        if (const auto side = settings.geometry[i]) {
            Module2::WriteSetting(profile, kSection, kGeometryKeys[i], formatSingle(*side), file);
        }
    }
    if (settings.state) Module2::WriteSetting(profile, kSection, kStateKey, std::to_string(*settings.state), file);
}

} // namespace qz
