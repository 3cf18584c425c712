// A deliberately plain rendering of the load rules (1-based positions, a fresh search from the start for
// every name) and a model of the store driven only through its operations. The tests and the fuzz
// targets hold the real store against them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace vs::test {

using Pairs = std::vector<std::pair<std::string, std::string>>;

// Pairs the enumeration hands over, from the stripped texts.
Pairs referenceEnumerate(const std::string& declarations, const std::string& values);

struct ReferenceLoad {
    std::string declarations; // working texts after the load
    std::string values;
    Pairs published;
};
// A load of existing file bytes, starting from the given working texts.
ReferenceLoad referenceLoad(std::string_view bytes, std::string declarations, std::string values);

// Expected texts and file of a store that only its own operations have written. A value is a record;
// spacing counts the spaces behind its entry.
class StoreModel {
public:
    struct Record {
        std::string name, data;
        std::size_t spacing;
    };
    struct Texts {
        std::size_t leading = 0; // spaces before the first entry (left by removals)
        std::vector<Record> records;
        std::string declarations() const;
        std::string values() const;
        std::string file() const;
    };
    enum class Result { done, notFound, ambiguous, refused, failed };

    std::optional<Texts> file; // nullopt: missing
    Texts working;
    bool writesFail = false;

    Result load();
    Result add(const std::string& name, const std::string& data, bool automaticRewrite);
    Result rewrite(const std::string& name, const std::string& data);
    Result remove(const std::string& name);
    Result clear();
    static bool storable(const std::string& text);
    static Texts defaultContent();

private:
    Result save();
    Record* own(const std::string& name);
};

} // namespace vs::test
