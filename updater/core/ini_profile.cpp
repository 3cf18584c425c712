#include "updater/core/ini_profile.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace qz {

namespace {

bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f'; }

std::string_view trim(std::string_view s) {
    while (!s.empty() && isSpace(s.front())) s.remove_prefix(1);
    while (!s.empty() && isSpace(s.back())) s.remove_suffix(1);
    return s;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return lower(x) == lower(y); });
}

enum class LineKind { Blank, Section, Key, Other };

// One line of the file: its bytes without the line end, and where the next line starts.
struct Line {
    std::size_t start = 0;
    std::size_t end = 0;  // end of the text, before CR LF / LF
    std::size_t next = 0; // start of the next line (== end when the file ends without a line end)
    LineKind kind = LineKind::Other;
    std::string_view name;  // section or key name, trimmed
    std::string_view value; // key value, trimmed
};

std::vector<Line> splitLines(const std::string& content) {
    std::vector<Line> lines;
    std::size_t pos = 0;
    while (pos < content.size()) {
        Line line;
        line.start = pos;
        std::size_t lf = content.find('\n', pos);
        if (lf == std::string::npos) {
            line.end = line.next = content.size();
        } else {
            line.next = lf + 1;
            line.end = (lf > pos && content[lf - 1] == '\r') ? lf - 1 : lf;
        }
        const std::string_view text = trim(std::string_view(content).substr(line.start, line.end - line.start));
        if (text.empty()) {
            line.kind = LineKind::Blank;
        } else if (text.front() == '[') {
            const std::size_t close = text.rfind(']');
            if (close != std::string_view::npos) {
                line.kind = LineKind::Section;
                line.name = trim(text.substr(1, close - 1));
            }
        } else if (text.front() != ';') {
            const std::size_t eq = text.find('=');
            if (eq != std::string_view::npos) {
                line.kind = LineKind::Key;
                line.name = trim(text.substr(0, eq));
                line.value = trim(text.substr(eq + 1));
            }
        }
        lines.push_back(line);
        pos = line.next;
    }
    return lines;
}

std::optional<std::string> readFile(const std::filesystem::path& file) {
    std::ifstream in{file, std::ios::binary};
    if (!in) return std::nullopt;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Index of the first header naming `section`, and one past the section's last line.
struct SectionRange {
    std::size_t header;
    std::size_t end;
};

std::optional<SectionRange> findSection(const std::vector<Line>& lines, std::string_view section) {
    for (std::size_t i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == LineKind::Section && equalNoCase(lines[i].name, section)) {
            std::size_t end = i + 1;
            while (end < lines.size() && lines[end].kind != LineKind::Section) ++end;
            return SectionRange{i, end};
        }
    }
    return std::nullopt;
}

std::optional<std::size_t> findKey(const std::vector<Line>& lines, SectionRange range, std::string_view key) {
    for (std::size_t i = range.header + 1; i < range.end; ++i) {
        if (lines[i].kind == LineKind::Key && equalNoCase(lines[i].name, key)) return i;
    }
    return std::nullopt;
}

std::string fitBuffer(std::string_view value, std::size_t bufferSize) {
    value = value.substr(0, value.find('\0'));
    return std::string(value.substr(0, std::min(value.size(), bufferSize - 1)));
}

// Reads and writes the whole file at each call; holds nothing between calls.
class IniProfile final : public Profile {
public:
    std::string readString(std::string_view section, std::string_view key, std::string_view defaultValue,
                           std::size_t bufferSize, const std::filesystem::path& file) override {
        if (bufferSize == 0) return {};
        const auto content = readFile(file);
        if (content) {
            const auto lines = splitLines(*content);
            if (const auto range = findSection(lines, section)) {
                if (const auto at = findKey(lines, *range, key)) {
                    std::string_view value = lines[*at].value;
                    // One pair of enclosing quotes (double or single) is removed.
                    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
                        value.back() == value.front()) {
                        value = value.substr(1, value.size() - 2);
                    }
                    return fitBuffer(value, bufferSize);
                }
            }
        }
        return fitBuffer(trim(defaultValue), bufferSize);
    }

    bool writeString(std::string_view section, std::string_view key, std::string_view value,
                     const std::filesystem::path& file) override {
        std::string content = readFile(file).value_or(std::string{});
        const auto lines = splitLines(content);
        const std::string entry = std::string(key) + "=" + std::string(value);

        if (const auto range = findSection(lines, section)) {
            if (const auto at = findKey(lines, *range, key)) {
                // Replace the key's line in place, keeping the stored spelling of its name.
                const Line& line = lines[*at];
                const std::string replaced = std::string(line.name) + "=" + std::string(value);
                content.replace(line.start, line.end - line.start, replaced);
            } else {
                // New key after the section's last non-blank line.
                std::size_t last = range->end - 1;
                while (last > range->header && lines[last].kind == LineKind::Blank) --last;
                const Line& after = lines[last];
                std::string insert;
                if (after.next == after.end) insert = "\r\n"; // the file ended without a line end
                insert += entry;
                insert += "\r\n";
                content.insert(after.next, insert);
            }
        } else {
            // New section at the end of the file, right after the last line.
            if (!content.empty() && content.back() != '\n') content += "\r\n";
            content += '[';
            content += section;
            content += "]\r\n";
            content += entry;
            content += "\r\n";
        }

        std::ofstream out{file, std::ios::binary | std::ios::trunc};
        if (!out) return false;
        out.write(content.data(), static_cast<std::streamsize>(content.size()));
        out.close();
        return static_cast<bool>(out);
    }
};

} // namespace

Profile& portableProfile() {
    static IniProfile profile;
    return profile;
}

} // namespace qz
