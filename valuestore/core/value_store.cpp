#include "valuestore/core/value_store.h"

#include <algorithm>
#include <string>

#include "valuestore/core/value_text.h"

namespace vs {

namespace {

// Characters of the stripped line texts: the begin marker with the opening quote, the end marker with
// the closing quote.
constexpr std::size_t kDeclarationHead = 1 + kBeginMarker.size();
constexpr std::size_t kDeclarationTail = kEndMarker.size() + 1;

char lowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool isLead(const LeadBytes& lead, char c) { return lead[static_cast<unsigned char>(c)]; }

// Names are compared without regard to (ASCII) case; both bytes of a double-byte character as they are.
std::uint32_t foldedHash(std::string_view name, const LeadBytes& lead) {
    std::uint64_t hash = 14695981039346656037ull; // FNV-1a
    for (std::size_t i = 0; i < name.size(); ++i) {
        char c = lowerAscii(name[i]);
        if (isLead(lead, name[i]) && i + 1 < name.size()) {
            hash = (hash ^ static_cast<unsigned char>(name[i])) * 1099511628211ull;
            c = name[++i];
        }
        hash = (hash ^ static_cast<unsigned char>(c)) * 1099511628211ull;
    }
    return static_cast<std::uint32_t>(hash ^ (hash >> 32));
}

bool equalFolded(std::string_view a, std::string_view b, const LeadBytes& lead) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (isLead(lead, a[i]) && i + 1 < a.size()) {
            if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
            ++i;
        } else if (lowerAscii(a[i]) != lowerAscii(b[i])) {
            return false;
        }
    }
    return true;
}

// Names and data that would not read back as written are refused before anything changes.
void refuseUnstorable(std::string_view text, std::string_view what) {
    const std::string prefix =
        std::string(standardErrorText(error::invalidArgument)) + ": " + std::string(what) + " may not contain ";
    if (text.find(kBeginMarker) != std::string_view::npos)
        throw StoreError(error::invalidArgument, prefix + "'" + std::string(kBeginMarker) + "'");
    const std::size_t at = text.find_first_of("()\r\n");
    if (at == std::string_view::npos) return;
    switch (text[at]) {
    case '\r': throw StoreError(error::invalidArgument, prefix + "a carriage return (CR)");
    case '\n': throw StoreError(error::invalidArgument, prefix + "a line feed (LF)");
    default: throw StoreError(error::invalidArgument, prefix + "'" + text[at] + "'");
    }
}

bool enclosedIn(std::string_view line, std::string_view head, std::string_view tail) {
    return line.size() >= head.size() + tail.size() && line.substr(0, head.size()) == head &&
           line.substr(line.size() - tail.size()) == tail;
}

// Follows the lines of a file as a load takes them and names the first thing that keeps the file from
// being whole: one declaration line and one value line, each in its quotes.
class WholeFileCheck {
public:
    void line(std::string_view text, bool declaration) {
        ++lineNumber_;
        if (declaration) {
            if (++declarationLines_ > 1)
                note(" is a second declaration line");
            else if (!enclosedIn(text, "\"<BEGINVALUEDECLARE>", "<ENDVALUEDECLARE>\""))
                note(" is not a declaration line in its quotes and markers");
        } else if (text.empty()) {
            note(" is empty");
        } else if (++valueLines_ > 1) {
            note(" is a second value line");
        } else if (!enclosedIn(text, "\"", "\"")) {
            note(" is not enclosed in double quotes");
        }
    }
    // Empty when the file is whole.
    std::string problem() const {
        if (!problem_.empty()) return problem_;
        if (declarationLines_ == 0) return "it has no declaration line";
        if (valueLines_ == 0) return "it has no value line";
        return {};
    }

private:
    void note(std::string_view what) {
        if (problem_.empty()) problem_ = "line " + std::to_string(lineNumber_) + std::string(what);
    }

    std::string problem_;
    std::size_t lineNumber_ = 0, declarationLines_ = 0, valueLines_ = 0;
};

StoreError unterminatedEntry(std::string_view name) {
    return StoreError(error::invalidArgument, std::string(standardErrorText(error::invalidArgument)) +
                                                  ": the entry of value '" + std::string(name) +
                                                  "' has no closing ')'");
}

} // namespace

ValueStore::ValueStore(FileSystem& fileSystem, Warner* warner) : fileSystem_(fileSystem), warner_(warner) {}

ValueStore::Scratch::Scratch() : workspace(std::make_unique<detail::Workspace>()) {}
ValueStore::Scratch::Scratch(const Scratch&) : Scratch() {}
ValueStore::Scratch& ValueStore::Scratch::operator=(const Scratch&) { return *this; }
ValueStore::Scratch::~Scratch() = default;

// index_ is an open-addressing table, a power of two in size. A used slot holds the name's hash in its
// high half and its position in values_ plus one in the low half; 0 is a free slot.
const std::string* ValueStore::find(std::string_view name) const {
    if (index_.empty()) return nullptr;
    const LeadBytes& lead = fileSystem_.leadBytes();
    const std::uint32_t hash = foldedHash(name, lead);
    const std::size_t mask = index_.size() - 1;
    for (std::size_t slot = hash & mask; index_[slot] != 0; slot = (slot + 1) & mask) {
        if (index_[slot] >> 32 != hash) continue;
        const auto& [key, data] = values_[static_cast<std::size_t>(index_[slot] & 0xffffffffu) - 1];
        if (equalFolded(key, name, lead)) return &data;
    }
    return nullptr;
}

std::optional<std::string> ValueStore::dataFilePath() {
    std::string path;
    try {
        if (dataFileSource_) path = dataFileSource_();
    } catch (const StoreError& e) {
        if (e.number == error::invalidArgument) throw; // a path the owner cannot give exactly is refused
        lastFileError_ = e;
        return std::nullopt;
    }
    if (!mayNameSingleFile(path) || !fileSystem_.namesSingleFile(path)) {
        lastFileError_ = StoreError(error::badFileName);
        return std::nullopt;
    }
    return path;
}

void ValueStore::getDataValues() {
    lastFileError_.reset();
    load();
}

ValueStore::Loaded ValueStore::load() {
    values_.clear();
    index_.clear();
    ++loadCount_;

    const std::optional<std::string> path = dataFilePath();
    if (!path) return Loaded::noSingleFile;
    std::optional<std::string> content;
    try {
        content = fileSystem_.readFile(*path);
    } catch (const StoreError& e) {
        lastFileError_ = e;
        return Loaded::notWhole;
    }
    if (!content) {
        writeDefaultContent();
        return Loaded::whole;
    }
    if (content->empty()) {
        // An empty file holds no values: nothing of an earlier load stays in the working texts.
        declarationText_.clear();
        valueText_.clear();
        return Loaded::whole;
    }
    const std::string problem = takeLines(*content);
    if (!problem.empty())
        lastFileError_ =
            fileError(error::pathFileAccessError, *path,
                      "the file does not hold the two quoted lines of a value data file (" + problem + ")");
    if (stripLines()) publishValues();
    return problem.empty() ? Loaded::whole : Loaded::notWhole;
}

// Missing file: write the default content; it is read by the next load, not this one. The path is read
// afresh for this access, and a failure to write reaches the caller.
void ValueStore::writeDefaultContent() {
    if (const std::optional<std::string> target = dataFilePath()) fileSystem_.replaceFile(*target, kDefaultFileContent);
}

// Takes the lines of the file into the working texts and returns the first thing that keeps the file
// from being whole (empty when it is). Lines end at CR (an LF right after it belongs to the line end);
// the last line of each kind wins.
std::string ValueStore::takeLines(std::string_view content) {
    WholeFileCheck check;
    for (std::size_t from = 0; from < content.size();) {
        const std::size_t cr = content.find('\r', from);
        const std::string_view line =
            content.substr(from, cr == std::string_view::npos ? std::string_view::npos : cr - from);
        const bool declaration = line.find(kBeginMarker) != std::string_view::npos;
        (declaration ? declarationText_ : valueText_).assign(line);
        check.line(line, declaration);
        if (cr == std::string_view::npos) break;
        from = cr + 1;
        if (from < content.size() && content[from] == '\n') ++from;
    }
    return check.problem();
}

// Strips the quotes and markers off the working texts by position, without checking what is removed.
// False when no text is left to take values from.
bool ValueStore::stripLines() {
    declarationText_.erase(0, std::min(kDeclarationHead, declarationText_.size()));
    if (declarationText_.size() < kDeclarationTail) return false;
    declarationText_.erase(declarationText_.size() - kDeclarationTail);
    if (!valueText_.empty()) valueText_.erase(0, 1);
    if (valueText_.empty()) return false;
    valueText_.pop_back();
    return true;
}

// Publishes the values the enumeration of the working texts hands over, and indexes them by name.
void ValueStore::publishValues() {
    // The index holds at most one entry per declaration: size it for the count of ')' at half load.
    const auto declared = static_cast<std::size_t>(std::count(declarationText_.begin(), declarationText_.end(), ')'));
    std::size_t capacity = 16;
    while (capacity < 2 * declared) capacity *= 2;
    index_.assign(capacity, 0);
    const LeadBytes& lead = fileSystem_.leadBytes();
    detail::enumerateValues(
        declarationText_, valueText_, *scratch_.workspace,
        [&](const detail::NamedData& pair) {
            if (find(pair.name)) return false; // a name declared twice (without regard to case) ends the load
            const std::uint32_t hash = foldedHash(pair.name, lead);
            std::size_t slot = hash & (capacity - 1);
            while (index_[slot] != 0) slot = (slot + 1) & (capacity - 1);
            values_.emplace_back(pair.name, pair.data);
            index_[slot] = std::uint64_t{hash} << 32 | values_.size();
            return true;
        },
        lead);
}

void ValueStore::loadWhole() {
    if (load() == Loaded::notWhole) throw *lastFileError_;
}

void ValueStore::save() {
    const std::optional<std::string> path = dataFilePath();
    if (!path) return; // no single file: nothing is written
    std::string content;
    content.reserve(declarationText_.size() + valueText_.size() + kBeginMarker.size() + kEndMarker.size() + 8);
    content.append("\"").append(kBeginMarker).append(declarationText_).append(kEndMarker).append("\"\r\n");
    content.append("\"").append(valueText_).append("\"\r\n");
    fileSystem_.replaceFile(*path, content); // on failure the old file stays as it was
}

Outcome ValueStore::addDataValue(const std::string& name) {
    lastFileError_.reset();
    refuseUnstorable(name, "value names");
    refuseUnstorable(newValueData_, "value data");
    loadWhole();
    if (detail::findFirst(declarationText_, name, fileSystem_.leadBytes()) != detail::npos) {
        if (automaticRewrite_) return rewrite(name);
        if (warner_) warner_->warnAmbiguous();
        return Outcome::ambiguous;
    }
    declarationText_.append("(").append(name).append(")");
    valueText_.append(name).append(" (").append(newValueData_).append(") ");
    save();
    return Outcome::done;
}

Outcome ValueStore::rewriteDataValue(const std::string& name) {
    lastFileError_.reset();
    refuseUnstorable(name, "value names");
    refuseUnstorable(newValueData_, "value data");
    return rewrite(name);
}

Outcome ValueStore::rewrite(const std::string& name) {
    loadWhole();
    const auto declarations = detail::parseDeclarations(declarationText_);
    const detail::EntrySearch entry = detail::findOwnEntry(valueText_, declarations, name);
    if (entry.result == detail::EntrySearch::Result::missing) return Outcome::notFound;
    if (entry.result == detail::EntrySearch::Result::unterminated) throw unterminatedEntry(name);
    // The new entry ends in ") " in place of the old ")": the spacing behind it grows by one space.
    valueText_.replace(entry.begin, entry.end - entry.begin, name + " (" + newValueData_ + ") ");
    save();
    return Outcome::done;
}

Outcome ValueStore::removeDataValue(const std::string& name) {
    lastFileError_.reset();
    refuseUnstorable(name, "value names");
    if (name.empty())
        throw StoreError(error::invalidArgument, std::string(standardErrorText(error::invalidArgument)) +
                                                     ": the name of the value to remove is empty");
    loadWhole();
    const auto declarations = detail::parseDeclarations(declarationText_);
    const auto own = std::find_if(declarations.begin(), declarations.end(),
                                  [&](const detail::Declaration& d) { return d.name == name; });
    if (own == declarations.end()) return Outcome::notFound;
    const detail::EntrySearch entry = detail::findOwnEntry(valueText_, declarations, name);

    declarationText_.erase(own->open, own->close - own->open + 1);
    // Without an entry nothing is saved: the next load restores the declaration text.
    if (entry.result == detail::EntrySearch::Result::unterminated) throw unterminatedEntry(name);
    if (entry.result == detail::EntrySearch::Result::missing) return Outcome::notFound;
    valueText_.erase(entry.begin, entry.end - entry.begin); // the spacing behind the entry stays
    // Load again, also after a failed save (the texts then come back from the unchanged file).
    auto reload = [this] {
        try {
            load();
        } catch (const StoreError& e) {
            lastFileError_ = e;
        }
    };
    try {
        save();
    } catch (const StoreError&) {
        reload();
        throw;
    }
    reload();
    return Outcome::done;
}

Outcome ValueStore::clearAll() {
    lastFileError_.reset();
    const std::optional<std::string> path = dataFilePath();
    valueText_.clear();
    declarationText_.clear();
    if (path) fileSystem_.replaceFile(*path, kDefaultFileContent);
    return Outcome::done;
}

} // namespace vs
