#include "valuestore/core/value_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <numeric>
#include <optional>
#include <string>
#include <unordered_map>

namespace vs::detail {

std::size_t findFirst(std::string_view text, std::string_view needle, const LeadBytes& lead) {
    if (text.empty()) return npos;
    std::size_t character = 0; // the start of a character, walked forward to each occurrence
    for (std::size_t at = text.find(needle); at != npos; at = text.find(needle, at + 1)) {
        while (character < at) character += lead[static_cast<unsigned char>(text[character])] ? 2 : 1;
        if (character == at) return at;
    }
    return npos;
}

namespace {

// Aho-Corasick automaton over a list of non-empty names (duplicates allowed). Each distinct name is a
// pattern. Nodes are numbered in breadth-first order with the children of a node contiguous and sorted
// by byte, so a child is found by binary search (the root has a full table). The trie is built by
// partitioning the names on one byte per level, without comparing whole names.
class Automaton {
public:
    Automaton(std::span<const std::string_view> names, Workspace& workspace)
        : names_(names), patternOf_(workspace.patternOf), patternLength_(workspace.patternLength),
          nodes_(workspace.nodes), parents_(workspace.parents) {
        patternOf_.assign(names.size(), kNone);
        patternLength_.clear();
        nodes_.clear();
        parents_.clear();
        build(workspace);
        linkFailures();
    }

    std::size_t patternCount() const { return patternLength_.size(); }
    // The pattern of each name given to the constructor.
    std::uint32_t patternOf(std::size_t name) const { return patternOf_[name]; }

    // Records in `first` (indexed by pattern, npos initially) where each pattern first occurs at the start
    // of a character: where `starts` (one flag per byte of text) is set, or anywhere without it.
    void scan(std::string_view text, std::vector<std::size_t>& first, const std::vector<unsigned char>* starts) const {
        std::size_t remaining = patternCount();
        std::uint32_t state = 0;
        for (std::size_t i = 0; i < text.size() && remaining > 0; ++i) {
            const auto byte = static_cast<unsigned char>(text[i]);
            for (;;) {
                const std::uint32_t next = child(state, byte);
                if (next != kNone) {
                    state = next;
                    break;
                }
                if (state == 0) break;
                state = nodes_[state].fail;
            }
            // Report the patterns ending here, longest first. A pattern seen before at the start of a character
            // had all of its suffixes that begin a character there recorded at its own first occurrence, and
            // they begin characters at the same offsets wherever it begins one. So the walk stops at the first
            // pattern already known that begins a character here. For one pattern the first occurrence by end
            // is also the first by start.
            for (std::uint32_t node = nodes_[state].pattern != kNone ? state : nodes_[state].output; node != 0;
                 node = nodes_[node].output) {
                const std::uint32_t id = nodes_[node].pattern;
                const std::size_t start = i + 1 - patternLength_[id];
                const bool beginsCharacter = !starts || (*starts)[start] != 0;
                if (first[id] != npos) {
                    if (beginsCharacter) break;
                    continue;
                }
                if (!beginsCharacter) continue;
                first[id] = start;
                --remaining;
            }
        }
    }

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;

    // output: the nearest node on the failure chain that ends a pattern; 0 for none.
    using Node = Workspace::Node;
    static Node newNode(unsigned char byte) { return Node{0, 0, 0, 0, kNone, byte}; }

    std::uint32_t child(std::uint32_t node, unsigned char byte) const {
        if (node == 0) return rootChildren_[byte];
        const Node& n = nodes_[node];
        std::uint32_t lo = n.firstChild, hi = n.childEnd;
        while (lo < hi) {
            const std::uint32_t mid = lo + (hi - lo) / 2;
            if (nodes_[mid].byte < byte)
                lo = mid + 1;
            else
                hi = mid;
        }
        return lo < n.childEnd && nodes_[lo].byte == byte ? lo : kNone;
    }

    // Breadth first: the names below a node (a range of `order`) that end there make it a pattern; the
    // others are distributed to one child per next byte, in byte order (a counting sort).
    void build(Workspace& workspace) {
        std::vector<std::uint32_t>& order = workspace.order;
        std::vector<std::uint32_t>& scratch = workspace.scratch;
        std::vector<Workspace::Range>& ranges = workspace.ranges;
        order.resize(names_.size());
        scratch.resize(names_.size());
        std::iota(order.begin(), order.end(), 0u);
        ranges.assign(1, {0, static_cast<std::uint32_t>(names_.size()), 0});
        std::array<std::uint32_t, 256> count{};
        std::vector<unsigned char> bytes;
        nodes_.push_back(newNode(0));
        parents_.push_back(0);
        for (std::uint32_t u = 0; u < nodes_.size(); ++u) {
            const auto [lo, hi, depth] = ranges[u];
            bytes.clear();
            std::uint32_t rest = lo; // names that continue are kept in order[lo, rest)
            for (std::uint32_t i = lo; i < hi; ++i) {
                const std::string_view name = names_[order[i]];
                if (name.size() == depth) {
                    if (nodes_[u].pattern == kNone) {
                        nodes_[u].pattern = static_cast<std::uint32_t>(patternLength_.size());
                        patternLength_.push_back(depth);
                    }
                    patternOf_[order[i]] = nodes_[u].pattern;
                    continue;
                }
                const auto b = static_cast<unsigned char>(name[depth]);
                if (count[b]++ == 0) bytes.push_back(b);
                order[rest++] = order[i];
            }
            std::sort(bytes.begin(), bytes.end());
            std::uint32_t at = lo;
            nodes_[u].firstChild = static_cast<std::uint32_t>(nodes_.size());
            for (const unsigned char b : bytes) {
                nodes_.push_back(newNode(b));
                parents_.push_back(u);
                ranges.push_back({at, at + count[b], depth + 1});
                const std::uint32_t begin = at;
                at += count[b];
                count[b] = begin; // from now on: where the next name of this byte goes
            }
            nodes_[u].childEnd = static_cast<std::uint32_t>(nodes_.size());
            for (std::uint32_t i = lo; i < rest; ++i)
                scratch[count[static_cast<unsigned char>(names_[order[i]][depth])]++] = order[i];
            std::copy(scratch.begin() + lo, scratch.begin() + rest, order.begin() + lo);
            for (const unsigned char b : bytes) count[b] = 0;
        }
        rootChildren_.fill(kNone);
        for (std::uint32_t v = nodes_[0].firstChild; v < nodes_[0].childEnd; ++v) rootChildren_[nodes_[v].byte] = v;
    }

    // Breadth-first order guarantees that a node's parent and every shallower node are linked first.
    void linkFailures() {
        for (std::uint32_t v = 1; v < nodes_.size(); ++v) {
            Node& node = nodes_[v];
            std::uint32_t fail = 0;
            if (parents_[v] != 0) {
                std::uint32_t f = nodes_[parents_[v]].fail;
                for (;;) {
                    const std::uint32_t next = child(f, node.byte);
                    if (next != kNone) {
                        fail = next;
                        break;
                    }
                    if (f == 0) break;
                    f = nodes_[f].fail;
                }
            }
            node.fail = fail;
            node.output = nodes_[fail].pattern != kNone ? fail : nodes_[fail].output;
        }
    }

    std::span<const std::string_view> names_;
    std::vector<std::uint32_t>& patternOf_;
    std::vector<std::uint32_t>& patternLength_;
    std::vector<Node>& nodes_;
    std::vector<std::uint32_t>& parents_; // used while building
    std::array<std::uint32_t, 256> rootChildren_{};
};

// The first position of one character at or after a given one. A short look ahead answers the usual
// query (an entry's own parenthesis is a few characters on); the first query that finds nothing within
// it switches to a sorted table of every position, so that the total work stays linear.
class NextCharacter {
public:
    NextCharacter(std::string_view text, char c, std::vector<std::size_t>& positions)
        : text_(text), c_(c), positions_(positions) {
        positions_.clear();
    }

    std::size_t atOrAfter(std::size_t from) {
        if (!tableBuilt_) {
            const std::size_t window = std::min(text_.size() - from, kLookAhead);
            if (const void* hit = std::memchr(text_.data() + from, c_, window))
                return static_cast<std::size_t>(static_cast<const char*>(hit) - text_.data());
            if (from + window == text_.size()) return npos;
            for (std::size_t i = 0; i < text_.size(); ++i)
                if (text_[i] == c_) positions_.push_back(i);
            tableBuilt_ = true;
        }
        const auto it = std::lower_bound(positions_.begin(), positions_.end(), from);
        return it == positions_.end() ? npos : *it;
    }

private:
    static constexpr std::size_t kLookAhead = 256;
    std::string_view text_;
    char c_;
    bool tableBuilt_ = false;
    std::vector<std::size_t>& positions_;
};

} // namespace

const std::vector<std::size_t>& firstOccurrences(std::span<const std::string_view> names, std::string_view text,
                                                 Workspace& workspace, const LeadBytes& lead) {
    std::vector<std::size_t>& result = workspace.occurrences;
    result.assign(names.size(), npos);
    if (text.empty()) return result;
    // An empty name is found at the start. The automaton takes the others; when there are empty names,
    // through a list of the non-empty ones and where each stands in `names`.
    std::span<const std::string_view> patterns = names;
    std::vector<std::size_t>& position = workspace.position;
    position.clear();
    if (std::any_of(names.begin(), names.end(), [](std::string_view name) { return name.empty(); })) {
        workspace.patterns.clear();
        for (std::size_t i = 0; i < names.size(); ++i) {
            if (names[i].empty()) {
                result[i] = 0;
            } else {
                workspace.patterns.push_back(names[i]);
                position.push_back(i);
            }
        }
        patterns = workspace.patterns;
    }
    if (patterns.empty()) return result;

    // In a double-byte code page, which bytes begin a character.
    const std::vector<unsigned char>* starts = nullptr;
    if (std::any_of(lead.begin(), lead.end(), [](bool isLead) { return isLead; })) {
        workspace.characterStarts.assign(text.size(), 0);
        for (std::size_t i = 0; i < text.size(); i += lead[static_cast<unsigned char>(text[i])] ? 2 : 1)
            workspace.characterStarts[i] = 1;
        starts = &workspace.characterStarts;
    }

    const Automaton automaton(patterns, workspace);
    workspace.first.assign(automaton.patternCount(), npos);
    automaton.scan(text, workspace.first, starts);
    for (std::size_t i = 0; i < patterns.size(); ++i)
        result[position.empty() ? i : position[i]] = workspace.first[automaton.patternOf(i)];
    return result;
}

std::vector<std::size_t> firstOccurrences(std::span<const std::string_view> names, std::string_view text,
                                          const LeadBytes& lead) {
    Workspace workspace;
    return firstOccurrences(names, text, workspace, lead);
}

void enumerateValues(std::string_view declarations, std::string_view values, Workspace& workspace,
                     const std::function<bool(const NamedData&)>& take, const LeadBytes& lead) {
    // The names in declaration order. The scan position is the index of the last ')' found; the
    // enumeration is complete once at most one character follows it (or, at first, the text has at most two).
    std::vector<std::string_view>& names = workspace.names;
    names.clear();
    for (std::size_t scan = 0; scan + 2 < declarations.size();) {
        const std::size_t open = declarations.find('(', scan);
        if (open == npos) break;
        const std::size_t close = declarations.find(')', open);
        if (close == npos) break;
        names.push_back(declarations.substr(open + 1, close - open - 1));
        scan = close;
    }
    if (names.empty()) return;

    const std::vector<std::size_t>& occurrences = firstOccurrences(names, values, workspace, lead);
    NextCharacter nextOpen(values, '(', workspace.opens), nextClose(values, ')', workspace.closes);
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (occurrences[i] == npos) break;
        const std::size_t open = nextOpen.atOrAfter(occurrences[i]);
        if (open == npos) break;
        const std::size_t close = nextClose.atOrAfter(open);
        if (close == npos) break;
        if (!take({names[i], values.substr(open + 1, close - open - 1)})) break;
    }
}

std::vector<NamedData> enumerateValues(std::string_view declarations, std::string_view values, const LeadBytes& lead) {
    Workspace workspace;
    std::vector<NamedData> pairs;
    enumerateValues(
        declarations, values, workspace,
        [&](const NamedData& pair) {
            pairs.push_back(pair);
            return true;
        },
        lead);
    return pairs;
}

std::vector<Declaration> parseDeclarations(std::string_view declarations) {
    std::vector<Declaration> result;
    for (std::size_t from = 0;;) {
        const std::size_t open = declarations.find('(', from);
        if (open == npos) break;
        const std::size_t close = declarations.find(')', open);
        if (close == npos) break;
        result.push_back({open, close, declarations.substr(open + 1, close - open - 1)});
        from = close + 1;
    }
    return result;
}

namespace {

std::size_t leadingSpaces(std::string_view text) {
    const std::size_t n = text.find_first_not_of(' ');
    return n == npos ? text.size() : n;
}

// Where `name` starts in `body` when body is spacing, the name, " (" and the rest; nullopt otherwise.
// The spacing is fixed by the name's own leading spaces, so there is at most one such place.
std::optional<std::size_t> nameOffset(std::string_view body, std::string_view name) {
    const std::size_t bodySpaces = leadingSpaces(body);
    const std::size_t nameSpaces = leadingSpaces(name);
    std::size_t offset;
    if (nameSpaces == name.size()) { // all spaces (or empty): the " (" begins in the leading run
        if (bodySpaces == body.size() || body[bodySpaces] != '(' || bodySpaces < name.size() + 1) return std::nullopt;
        offset = bodySpaces - name.size() - 1;
    } else {
        if (bodySpaces < nameSpaces) return std::nullopt;
        offset = bodySpaces - nameSpaces;
    }
    const std::string_view rest = body.substr(offset);
    if (rest.substr(0, name.size()) != name || rest.substr(name.size(), 2) != " (") return std::nullopt;
    return offset;
}

struct Segment {
    std::size_t start; // just after the previous entry's ')', or 0
    std::size_t close; // this entry's ')'
};

// True when a declared name other than `name` also fits the body.
bool fitsAnotherName(std::string_view body, std::string_view name,
                     const std::unordered_map<std::string_view, std::vector<std::string_view>>& byCore) {
    auto fitsOneOf = [&](std::string_view core) {
        const auto it = byCore.find(core);
        if (it == byCore.end()) return false;
        return std::any_of(it->second.begin(), it->second.end(),
                           [&](std::string_view other) { return other != name && nameOffset(body, other); });
    };
    const std::size_t spaces = leadingSpaces(body);
    if (spaces > 0 && spaces < body.size() && body[spaces] == '(' && fitsOneOf({})) return true;
    for (std::size_t p = body.find(" (", spaces); p != npos; p = body.find(" (", p + 1))
        if (fitsOneOf(body.substr(spaces, p - spaces))) return true;
    return false;
}

} // namespace

EntrySearch findOwnEntry(std::string_view values, std::span<const Declaration> declarations, std::string_view name) {
    std::vector<Segment> segments;
    std::size_t start = 0;
    for (std::size_t close = values.find(')'); close != npos; close = values.find(')', start)) {
        segments.push_back({start, close});
        start = close + 1;
    }
    auto body = [&](const Segment& s) { return values.substr(s.start, s.close - s.start); };
    auto found = [&](const Segment& s, std::size_t offset) {
        return EntrySearch{EntrySearch::Result::found, s.start + offset, s.close + 1};
    };

    if (segments.size() == declarations.size()) {
        const auto own = std::find_if(declarations.begin(), declarations.end(),
                                      [&](const Declaration& d) { return d.name == name; });
        if (own != declarations.end()) {
            const Segment& segment = segments[static_cast<std::size_t>(own - declarations.begin())];
            if (const auto offset = nameOffset(body(segment), name)) return found(segment, *offset);
        }
    }

    // Entries and declarations do not line up: take the first entry that only this name fits.
    std::unordered_map<std::string_view, std::vector<std::string_view>> byCore;
    for (const Declaration& d : declarations) byCore[d.name.substr(leadingSpaces(d.name))].push_back(d.name);
    for (const Segment& segment : segments) {
        const std::string_view b = body(segment);
        if (const auto offset = nameOffset(b, name); offset && !fitsAnotherName(b, name, byCore))
            return found(segment, *offset);
    }
    if (nameOffset(values.substr(start), name)) return {EntrySearch::Result::unterminated};
    return {};
}

} // namespace vs::detail
