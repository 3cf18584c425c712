// The linear-time search behind the load gives exactly what a fresh search per name gives, and the own
// entry of a value is found where its declaration says.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "valuestore/core/value_text.h"
#include "valuestore/tests/support/memory_file_system.h"
#include "valuestore/tests/support/reference_store.h"

namespace vs::detail {
namespace {

std::string randomText(std::mt19937& random, std::string_view alphabet, std::size_t maxLength) {
    std::string text(random() % (maxLength + 1), ' ');
    for (char& c : text) c = alphabet[random() % alphabet.size()];
    return text;
}

TEST(FirstOccurrences, MatchAFreshSearchPerName) {
    std::mt19937 random(7);
    const LeadBytes codePage932 = test::codePage932LeadBytes();
    for (int round = 0; round < 4000; ++round) {
        // In the fourth kind of round, double-byte characters of code page 932 whose trail bytes are letters.
        const bool doubleByte = round % 4 == 3;
        const LeadBytes& lead = doubleByte ? codePage932 : kNoLeadBytes;
        const std::string_view alphabet = round % 4 == 0   ? "ab"
                                          : round % 4 == 1 ? "aab("
                                          : round % 4 == 2 ? "abc)( \xff"
                                                           : "\x83\x83"
                                                             "AAa(";
        const std::string text = randomText(random, alphabet, 40);
        std::vector<std::string> owned;
        for (std::size_t i = random() % 12; i > 0; --i) {
            // Names cut from the text itself overlap it in every way; random ones mostly miss.
            if (random() % 2 && !text.empty()) {
                const std::size_t at = random() % text.size();
                owned.push_back(text.substr(at, random() % 6));
            } else {
                owned.push_back(randomText(random, alphabet, 5));
            }
        }
        const std::vector<std::string_view> names(owned.begin(), owned.end());
        const std::vector<std::size_t> fast = firstOccurrences(names, text, lead);
        for (std::size_t i = 0; i < names.size(); ++i)
            ASSERT_EQ(fast[i], findFirst(text, names[i], lead)) << "text '" << text << "' name '" << names[i] << "'";
    }
}

TEST(FindFirst, MatchesWholeCharactersOnly) {
    const LeadBytes codePage932 = test::codePage932LeadBytes();
    // Katakana A is 0x83 0x41: its trail byte is "A" but begins no character.
    EXPECT_EQ(findFirst("(\x83\x41)(A)", "A", codePage932), 5u);
    EXPECT_EQ(findFirst("(\x83\x41)", "A", codePage932), npos);
    EXPECT_EQ(findFirst("(\x83\x41)", "A"), 2u);
    EXPECT_EQ(findFirst("\x83\x83\x41", "\x83\x41", codePage932), npos);
    EXPECT_EQ(findFirst("\x83\x83\x83\x41", "\x83\x41", codePage932), 2u);
}

TEST(FirstOccurrences, EmptyNamesAndTexts) {
    const std::vector<std::string_view> names = {"", "a", ""};
    EXPECT_EQ(firstOccurrences(names, "xa"), (std::vector<std::size_t>{0, 1, 0}));
    EXPECT_EQ(firstOccurrences(names, ""), (std::vector<std::size_t>{npos, npos, npos}));
}

TEST(EnumerateValues, MatchesThePlainRules) {
    std::mt19937 random(11);
    for (int round = 0; round < 5000; ++round) {
        std::string declarations, values;
        // Mostly well-formed texts with overlapping names, salted with stray characters.
        const std::vector<std::string> words = {"", "a", "b", "ab", "ba", "aa", " a", "A"};
        for (std::size_t n = random() % 6; n > 0; --n) {
            const std::string name = words[random() % words.size()];
            declarations += "(" + name + ")";
            if (random() % 5)
                values += name + " (" + words[random() % words.size()] + ")" + std::string(random() % 3, ' ');
        }
        if (random() % 4 == 0)
            declarations.insert(random() % (declarations.size() + 1), randomText(random, "ab() ", 3));
        if (random() % 4 == 0) values.insert(random() % (values.size() + 1), randomText(random, "ab() ", 3));

        std::vector<std::pair<std::string, std::string>> fast;
        for (const NamedData& pair : enumerateValues(declarations, values)) fast.emplace_back(pair.name, pair.data);
        ASSERT_EQ(fast, test::referenceEnumerate(declarations, values))
            << "declarations '" << declarations << "' values '" << values << "'";
    }
}

TEST(EnumerateValues, ScanEndsWhenAtMostOneCharacterIsLeft) {
    EXPECT_TRUE(enumerateValues("()", " (x) ").empty());
    EXPECT_EQ(enumerateValues("(a)()", "a (1)  (2) ").size(), 2u);
    EXPECT_EQ(enumerateValues("(a)x", "a (1) ").size(), 1u);
}

std::string ownEntry(std::string_view declarations, std::string_view values, std::string_view name) {
    const auto parsed = parseDeclarations(declarations);
    const EntrySearch found = findOwnEntry(values, parsed, name);
    switch (found.result) {
    case EntrySearch::Result::found: return std::string(values.substr(found.begin, found.end - found.begin));
    case EntrySearch::Result::unterminated: return "<unterminated>";
    default: return "<missing>";
    }
}

TEST(OwnEntry, IsTheNamesOwnNotAMatchInsideOthers) {
    EXPECT_EQ(ownEntry("(NULL)(X)(Speed)", "NULL (0)X (Speed) Speed (12) ", "Speed"), "Speed (12)");
    EXPECT_EQ(ownEntry("(MaxSpeed)(Speed)", "MaxSpeed (1) Speed (2) ", "Speed"), "Speed (2)");
    EXPECT_EQ(ownEntry("(Speed)", "Speed (2) ", "Spe"), "<missing>");
    EXPECT_EQ(ownEntry("(Speed)", "Speed (2) ", "peed"), "<missing>");
    EXPECT_EQ(ownEntry("(a b)(b)", "a b (1) b (2) ", "b"), "b (2)");
    // After removals the value text may start with spacing.
    EXPECT_EQ(ownEntry("(Mode)", "   Mode (auto) ", "Mode"), "Mode (auto)");
    EXPECT_EQ(ownEntry("()", "  (e) ", ""), " (e)");
    EXPECT_EQ(ownEntry("(A)(B)", "A (1) B (2", "B"), "<unterminated>");
}

TEST(OwnEntry, LeadingSpacesFollowTheDeclarations) {
    // Entries line up with the declarations: each name gets the entry at its own place.
    EXPECT_EQ(ownEntry("( y)(  y)", " y (1)   y (2) ", " y"), " y (1)");
    EXPECT_EQ(ownEntry("( y)(  y)", " y (1)   y (2) ", "  y"), "  y (2)");
    // Out of step (an extra entry), an entry that two declared names fit belongs to neither.
    EXPECT_EQ(ownEntry("(Z)( y)(  y)", "   y (2) Q (0) ", "  y"), "<missing>");
    EXPECT_EQ(ownEntry("(Z)( y)", "   y (2) Q (0) ", " y"), " y (2)");
}

TEST(ParseDeclarations, StopsAtTheFirstIncompletePair) {
    const auto parsed = parseDeclarations("(a)x(b)(c");
    ASSERT_EQ(parsed.size(), 2u);
    EXPECT_EQ(parsed[1].name, "b");
    EXPECT_EQ(parsed[1].open, 4u);
    EXPECT_EQ(parsed[1].close, 6u);
}

} // namespace
} // namespace vs::detail
