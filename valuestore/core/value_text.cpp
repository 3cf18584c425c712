#include "value_text.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <optional>
#include <string>
#include <unordered_map>

namespace vs::detail {

std::size_t findFirst(std::string_view text, std::string_view needle) {
  if (text.empty()) return npos;
  return text.find(needle);
}

namespace {

// Aho-Corasick automaton over sorted, distinct, non-empty patterns. Nodes are numbered in breadth-first
// order with the children of a node contiguous and sorted by byte, so a child is found by binary search
// (the root has a full table).
class Automaton {
 public:
  explicit Automaton(std::span<const std::string_view> patterns) : patterns_(patterns) {
    build();
    linkFailures();
  }

  // Records in `first` (indexed like the patterns, npos initially) where each pattern first occurs.
  void scan(std::string_view text, std::vector<std::size_t>& first) const {
    std::size_t remaining = patterns_.size();
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
      // Report the patterns ending here, longest first. A pattern seen before had all of its suffixes
      // recorded at its own first occurrence, so the walk stops at the first one already known. For one
      // pattern the first occurrence by end is also the first by start.
      for (std::uint32_t node = nodes_[state].pattern != kNone ? state : nodes_[state].output; node != 0;
           node = nodes_[node].output) {
        const std::uint32_t id = nodes_[node].pattern;
        if (first[id] != npos) break;
        first[id] = i + 1 - patterns_[id].size();
        --remaining;
      }
    }
  }

 private:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  struct Node {
    std::uint32_t firstChild = 0;
    std::uint32_t childEnd = 0;
    std::uint32_t parent = 0;
    std::uint32_t fail = 0;
    std::uint32_t output = 0;  // nearest node on the failure chain that ends a pattern; 0 for none
    std::uint32_t pattern = kNone;
    unsigned char byte = 0;
  };

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

  void build() {
    struct Range {
      std::size_t lo, hi, depth;
    };
    std::vector<Range> ranges{{0, patterns_.size(), 0}};
    nodes_.emplace_back();
    for (std::size_t u = 0; u < nodes_.size(); ++u) {
      auto [lo, hi, depth] = ranges[u];
      if (lo < hi && patterns_[lo].size() == depth) nodes_[u].pattern = static_cast<std::uint32_t>(lo++);
      nodes_[u].firstChild = static_cast<std::uint32_t>(nodes_.size());
      while (lo < hi) {
        const char c = patterns_[lo][depth];
        std::size_t end = lo;
        while (end < hi && patterns_[end][depth] == c) ++end;
        Node node;
        node.parent = static_cast<std::uint32_t>(u);
        node.byte = static_cast<unsigned char>(c);
        nodes_.push_back(node);
        ranges.push_back({lo, end, depth + 1});
        lo = end;
      }
      nodes_[u].childEnd = static_cast<std::uint32_t>(nodes_.size());
    }
    rootChildren_.fill(kNone);
    for (std::uint32_t v = nodes_[0].firstChild; v < nodes_[0].childEnd; ++v) rootChildren_[nodes_[v].byte] = v;
  }

  // Breadth-first order guarantees that a node's parent and every shallower node are linked first.
  void linkFailures() {
    for (std::uint32_t v = 1; v < nodes_.size(); ++v) {
      Node& node = nodes_[v];
      std::uint32_t fail = 0;
      if (node.parent != 0) {
        std::uint32_t f = nodes_[node.parent].fail;
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

  std::span<const std::string_view> patterns_;
  std::vector<Node> nodes_;
  std::array<std::uint32_t, 256> rootChildren_{};
};

}  // namespace

std::vector<std::size_t> firstOccurrences(std::span<const std::string_view> names, std::string_view text) {
  std::vector<std::size_t> result(names.size(), npos);
  std::vector<std::size_t> order;
  order.reserve(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (names[i].empty())
      result[i] = findFirst(text, names[i]);
    else
      order.push_back(i);
  }
  if (order.empty() || text.empty()) return result;

  std::stable_sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return names[a] < names[b]; });
  std::vector<std::string_view> patterns;
  std::vector<std::size_t> patternOf(names.size());
  for (std::size_t i : order) {
    if (patterns.empty() || patterns.back() != names[i]) patterns.push_back(names[i]);
    patternOf[i] = patterns.size() - 1;
  }

  std::vector<std::size_t> first(patterns.size(), npos);
  Automaton(patterns).scan(text, first);
  for (std::size_t i : order) result[i] = first[patternOf[i]];
  return result;
}

std::vector<NamedData> enumerateValues(std::string_view declarations, std::string_view values) {
  // The names in declaration order. The scan position is the index of the last ')' found; the
  // enumeration is complete once at most one character follows it (or, at first, the text has at most two).
  std::vector<std::string_view> names;
  for (std::size_t scan = 0; scan + 2 < declarations.size();) {
    const std::size_t open = declarations.find('(', scan);
    if (open == npos) break;
    const std::size_t close = declarations.find(')', open);
    if (close == npos) break;
    names.push_back(declarations.substr(open + 1, close - open - 1));
    scan = close;
  }
  if (names.empty()) return {};

  const std::vector<std::size_t> occurrences = firstOccurrences(names, values);
  std::vector<std::size_t> opens, closes;
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (values[i] == '(') opens.push_back(i);
    if (values[i] == ')') closes.push_back(i);
  }
  auto firstAtOrAfter = [](const std::vector<std::size_t>& positions, std::size_t from) {
    const auto it = std::lower_bound(positions.begin(), positions.end(), from);
    return it == positions.end() ? npos : *it;
  };

  std::vector<NamedData> pairs;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (occurrences[i] == npos) break;
    const std::size_t open = firstAtOrAfter(opens, occurrences[i]);
    if (open == npos) break;
    const std::size_t close = firstAtOrAfter(closes, open);
    if (close == npos) break;
    pairs.push_back({names[i], values.substr(open + 1, close - open - 1)});
  }
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
  if (nameSpaces == name.size()) {  // all spaces (or empty): the " (" begins in the leading run
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
  std::size_t start;  // just after the previous entry's ')', or 0
  std::size_t close;  // this entry's ')'
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

}  // namespace

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

}  // namespace vs::detail
