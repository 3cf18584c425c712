#pragma once
// Settings file of the updater, read at start-up and written at shut-down: the two leading
// records (port number, quoted firmware path) in the comma-and-quote format of sequential
// record files, then the window's geometry and state as keys of section "Main" through a
// Profile (Module2), and the number texts both use.

#include "updater/core/profile.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>

namespace qz {

// File name used for the keys and the records alike (one form of the name, so that both reach
// the one file on a file system that tells letter case apart).
inline constexpr std::string_view kSettingsFileName = "updater7304.ini";

// The settings file: where the file calls find it, and its full path as the messages name it.
struct SettingsFile {
    std::filesystem::path path;
    std::string shown;
};

// The two leading records as a start-up takes them.
struct PortAndFile {
    std::optional<std::int16_t> comPort; // the first record, when it is a 16-bit number
    std::optional<std::string> fileText; // the second record, when it is taken
    bool whole = false;                  // both were read as the shut-down writes them
};

// Reads the two leading records. A first record that is not a 16-bit number leaves the file
// not whole; the path record after it is still taken when it is quoted as the program writes
// it, so that a hand-edited port does not lose the firmware path at the next shut-down (while
// the fields of a file that is not a settings file at all are not taken for a path). Nothing
// is taken from a file that cannot be read.
PortAndFile readPortAndFile(const std::filesystem::path& file);

// Replaces the file with the two leading records (see formatPortAndFileRecords); without a
// file text, with the port record alone. False when the file cannot be written, or without a
// file text.
bool writePortAndFile(const std::filesystem::path& file, std::int16_t comPort,
                      const std::optional<std::string>& fileText);

// The window's geometry (twips) and state as the keys "Window Width", "Window Height",
// "Window Top", "Window Left" and "Window State" of section "Main" hold them.
struct WindowSettings {
    std::array<std::optional<float>, 4> geometry; // width, height, top, left
    std::optional<std::int16_t> state;
};

// A key that is missing or holds no number reads as nothing.
WindowSettings readWindowSettings(Profile& profile, const std::filesystem::path& file);
// Writes the keys of the values present, in the order above; failures are silent.
void writeWindowSettings(Profile& profile, const std::filesystem::path& file, const WindowSettings& settings);

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

// The two leading records as the shut-down writes them: port, CR LF, quoted text, CR LF;
// without a file text, the port record alone.
std::string formatPortAndFileRecords(std::int16_t comPort, std::optional<std::string_view> fileText);

} // namespace qz
