// libFuzzer target: arbitrary data file bytes. The load must agree with the plain rendering of the
// rules, the linear-time search with a fresh search per name (also by whole characters of code page
// 932), and rewrite/remove must leave every other declaration alone, or the file as it was.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "valuestore/core/value_store.h"
#include "valuestore/core/value_text.h"
#include "valuestore/tests/support/memory_file_system.h"
#include "valuestore/tests/support/reference_store.h"

namespace {

void check(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

std::vector<std::string> declaredNames(const std::string& declarations) {
    std::vector<std::string> names;
    for (const auto& d : vs::detail::parseDeclarations(declarations)) names.emplace_back(d.name);
    return names;
}

// The bytes as two raw texts (split at the first NUL): the enumeration against the reference.
void checkEnumeration(std::string_view bytes) {
    const std::size_t split = bytes.find('\0');
    const std::string declarations(bytes.substr(0, split));
    const std::string values(split == std::string_view::npos ? std::string_view() : bytes.substr(split + 1));
    vs::test::Pairs fast;
    for (const auto& pair : vs::detail::enumerateValues(declarations, values)) fast.emplace_back(pair.name, pair.data);
    check(fast == vs::test::referenceEnumerate(declarations, values), "enumeration differs from the reference");

    std::vector<std::string_view> names;
    for (const auto& d : vs::detail::parseDeclarations(declarations)) names.push_back(d.name);
    const auto first = vs::detail::firstOccurrences(names, values);
    for (std::size_t i = 0; i < names.size(); ++i)
        check(first[i] == vs::detail::findFirst(values, names[i]), "first occurrence differs from a plain search");
    // The same where the bytes are text of the double-byte code page 932.
    static const vs::LeadBytes codePage932 = vs::test::codePage932LeadBytes();
    const auto whole = vs::detail::firstOccurrences(names, values, codePage932);
    for (std::size_t i = 0; i < names.size(); ++i)
        check(whole[i] == vs::detail::findFirst(values, names[i], codePage932),
              "first whole-character occurrence differs from a plain search");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    checkEnumeration(bytes);

    vs::test::MemoryFileSystem fs;
    fs.files["d"] = bytes;
    vs::ValueStore store(fs);
    store.setDataFileSource([] { return std::string("d"); });
    store.getDataValues();
    const auto reference = vs::test::referenceLoad(bytes, "", "");
    check(store.values() == reference.published, "published values differ from the reference");
    check(store.declarationText() == reference.declarations, "declaration text differs");
    check(store.valueText() == reference.values, "value text differs");
    // A file the load did not take whole is never saved over: rewrite and remove raise its error.
    const bool notWhole = store.lastFileError().has_value();

    // Rewrite and remove the first few declared names on fresh copies of the store.
    const std::vector<std::string> names = declaredNames(store.declarationText());
    for (std::size_t i = 0; i < names.size() && i < 4; ++i) {
        const std::string& name = names[i];
        if (!vs::test::StoreModel::storable(name)) continue;
        for (int op = 0; op < 2; ++op) {
            fs.files["d"] = bytes;
            vs::ValueStore copy(fs);
            copy.setDataFileSource([] { return std::string("d"); });
            copy.setNewValueData("new");
            try {
                if (op == 0) {
                    copy.rewriteDataValue(name);
                    check(copy.declarationText() == reference.declarations, "rewrite changed the declarations");
                } else if (copy.removeDataValue(name) == vs::Outcome::done) {
                    // The saved file's declarations are the old ones without this name's first declaration.
                    auto expected = declaredNames(reference.declarations);
                    for (auto it = expected.begin(); it != expected.end(); ++it)
                        if (*it == name) {
                            expected.erase(it);
                            break;
                        }
                    const auto reloaded = vs::test::referenceLoad(fs.files["d"], "", "");
                    check(declaredNames(reloaded.declarations) == expected, "remove changed another declaration");
                }
            } catch (const vs::StoreError& e) {
                check(e.number == vs::error::invalidArgument ||
                          (notWhole && e.number == vs::error::pathFileAccessError),
                      "unexpected error number");
                check(fs.files["d"] == bytes, "a refused operation changed the file");
            }
        }
    }
    return 0;
}
