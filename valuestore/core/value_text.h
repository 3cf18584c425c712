// Parsing and searching the two working texts: the declaration text '(A)(B)' and the value text
// 'A (1) B (2) '. Internal to the store; the tests and fuzz targets use it too.
//
// Searches for names match whole characters of the code page only: in a double-byte code page a trail
// byte may equal an ASCII letter ("\x83\x41" in code page 932 holds "A"). The layout's own characters
// ('(', ')', ' ', '"', '<', CR, LF) lie below 0x40 and are never trail bytes of the double-byte ANSI
// code pages, so searches for them need no such care.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>
#include <vector>

#include "valuestore/core/file_system.h"

namespace vs::detail {

inline constexpr std::size_t npos = std::string_view::npos;

// Plain, case-sensitive search for the first occurrence of needle in text that begins a character. An
// empty needle is found at the start of any non-empty text and nowhere in an empty one.
std::size_t findFirst(std::string_view text, std::string_view needle, const LeadBytes& lead = kNoLeadBytes);

// Buffers the searches reuse from call to call. Without them a large store would have fresh memory
// faulted in on every load, which costs more than the search itself. Contents mean nothing between calls.
struct Workspace {
    struct Node { // a node of the search automaton
        std::uint32_t firstChild, childEnd, fail, output, pattern;
        unsigned char byte;
    };
    struct Range { // names below a node while it is built
        std::uint32_t lo, hi, depth;
    };
    std::vector<std::string_view> names, patterns;
    std::vector<std::size_t> occurrences, position, first, opens, closes;
    std::vector<unsigned char> characterStarts;
    std::vector<std::uint32_t> patternOf, patternLength, order, scratch, parents;
    std::vector<Node> nodes;
    std::vector<Range> ranges;
};

// For each name, the position of its first occurrence in text (npos when it does not occur), with the
// results of findFirst, in time linear in the lengths of text and names (Aho-Corasick automaton).
// The result lives in the workspace until its next use.
const std::vector<std::size_t>& firstOccurrences(std::span<const std::string_view> names, std::string_view text,
                                                 Workspace& workspace, const LeadBytes& lead = kNoLeadBytes);
std::vector<std::size_t> firstOccurrences(std::span<const std::string_view> names, std::string_view text,
                                          const LeadBytes& lead = kNoLeadBytes);

struct NamedData {
    std::string_view name;
    std::string_view data;
};

// The pairs the enumeration of a load hands over, in order, until it completes or ends quietly: each
// declared name, and its data found from the name's first occurrence anywhere in the value text.
// `take` receives them one by one and may stop the enumeration by returning false.
void enumerateValues(std::string_view declarations, std::string_view values, Workspace& workspace,
                     const std::function<bool(const NamedData&)>& take, const LeadBytes& lead = kNoLeadBytes);
std::vector<NamedData> enumerateValues(std::string_view declarations, std::string_view values,
                                       const LeadBytes& lead = kNoLeadBytes);

// One declaration '(name)': positions of its parentheses in the declaration text.
struct Declaration {
    std::size_t open;
    std::size_t close;
    std::string_view name;
};

// Every '(' ... ')' pair of the declaration text, in order, up to the first that lacks either.
std::vector<Declaration> parseDeclarations(std::string_view declarations);

// The own entry of a value in the value text: the name (after the spacing that follows an earlier
// entry, or at the start) followed by " (" and the data up to and including the first ')'.
struct EntrySearch {
    enum class Result { found, missing, unterminated } result = Result::missing;
    std::size_t begin = 0; // first character of the name
    std::size_t end = 0;   // one past the closing ')'
};

// Finds the own entry of `name`. Entries are the stretches of the value text that end in ')'. When
// they match the declarations one to one, the entry at the position of the name's first declaration
// is its own; otherwise the first entry that fits the name and no other declared name. `unterminated`
// when only the text behind the last ')' fits the name.
EntrySearch findOwnEntry(std::string_view values, std::span<const Declaration> declarations, std::string_view name);

} // namespace vs::detail
