#pragma once
// Settings file of the updater: single keys of section "Main" through a Profile (Module2),
// the two leading records (port number, quoted firmware path) in the comma-and-quote format
// of sequential record files, and the number texts both use.

#include "updater/core/profile.h"

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

// File name used for the keys and the records alike (one form of the name, so that both reach
// the one file on a file system that tells letter case apart).
inline constexpr std::string_view kSettingsFileName = "updater7304.ini";
inline constexpr std::string_view kSettingsSection = "Main";
inline constexpr std::string_view kKeyWindowWidth = "Window Width";
inline constexpr std::string_view kKeyWindowHeight = "Window Height";
inline constexpr std::string_view kKeyWindowTop = "Window Top";
inline constexpr std::string_view kKeyWindowLeft = "Window Left";
inline constexpr std::string_view kKeyWindowState = "Window State";

namespace Module2 {

// The key's value cut to 254 characters, with "Default" (exact case) and a missing key,
// section or file reading as empty text; leading and trailing blanks removed. Never throws.
std::string ReadSetting(Profile& profile, std::string_view section, std::string_view key,
                        const std::filesystem::path& file);

// Stores the value; failures are silent.
void WriteSetting(Profile& profile, std::string_view section, std::string_view key, std::string_view value,
                  const std::filesystem::path& file);

} // namespace Module2

// Shortest plain decimal text of a single-precision value: "7860", "-120", "0.5"; never an
// exponent, never "-0".
std::string formatSingle(float value);

// Text to single-precision number: optional sign, digits with an optional fraction and
// exponent, blanks around allowed. Empty, other text or out of range: nothing.
std::optional<float> parseSingle(std::string_view text);

// Text to 16-bit integer the way a number is converted to a whole number: a decimal number
// (as parseSingle reads it) rounded half to even; nothing when not a number or out of range.
std::optional<std::int16_t> toInteger16(std::string_view text);

// A first record that holds a valid 16-bit number: optional blanks, an optional sign and
// decimal digits only, within -32768..32767. Anything else (including "7.5") is refused.
std::optional<std::int16_t> parseRecordInteger16(std::string_view text);

// Reads comma-delimited fields: blanks (spaces, tabs) before a field are skipped; a field
// that begins with a double quote runs to the next double quote (quotes not part of the
// value, text up to the next delimiter after it dropped); any other field runs to the next
// comma or line end, without its trailing blanks; the delimiter after a field is consumed.
class RecordReader {
public:
    explicit RecordReader(std::istream& in) : in_(in) {}
    // Nothing at end of input, or when a field is longer than kMaxFieldLength.
    std::optional<std::string> next();
    // Whether the last field read began with a double quote.
    bool lastWasQuoted() const { return quoted_; }

    static constexpr std::size_t kMaxFieldLength = 1 << 20;

private:
    void consumeDelimiter();
    std::istream& in_;
    bool quoted_ = false;
};

// The two leading records as the shut-down writes them: port, CR LF, quoted text, CR LF.
std::string formatPortAndFileRecords(std::int16_t comPort, std::string_view fileText);

} // namespace qz
