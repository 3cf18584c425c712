#include "valuestore/tests/support/reference_store.h"

#include <algorithm>

namespace vs::test {

namespace {

// 1-based plain search: position of `needle` in `text` at or after `start`, 0 when absent. An empty
// needle is found at `start` in a non-empty text.
std::size_t inStr(std::size_t start, const std::string& text, const std::string& needle) {
    if (text.empty() || start > text.size()) return 0;
    const std::size_t at = text.find(needle, start - 1);
    return at == std::string::npos ? 0 : at + 1;
}

std::string mid(const std::string& text, std::size_t from, std::size_t length) { return text.substr(from - 1, length); }

std::string lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + 32);
    return text;
}

} // namespace

Pairs referenceEnumerate(const std::string& declarations, const std::string& values) {
    Pairs pairs;
    std::size_t scan = 1;
    for (;;) {
        if (static_cast<long long>(scan) >= static_cast<long long>(declarations.size()) - 1) break;
        const std::size_t open = inStr(scan, declarations, "(");
        if (open == 0) break;
        const std::size_t close = inStr(open, declarations, ")");
        if (close == 0) break;
        const std::string name = mid(declarations, open + 1, close - open - 1);
        scan = close;
        const std::size_t at = inStr(1, values, name);
        if (at == 0) break;
        const std::size_t dataOpen = inStr(at, values, "(");
        if (dataOpen == 0) break;
        const std::size_t dataClose = inStr(dataOpen, values, ")");
        if (dataClose == 0) break;
        pairs.emplace_back(name, mid(values, dataOpen + 1, dataClose - dataOpen - 1));
    }
    return pairs;
}

ReferenceLoad referenceLoad(std::string_view bytes, std::string declarations, std::string values) {
    ReferenceLoad result;
    std::string line;
    bool inLine = false;
    auto endLine = [&] {
        (line.find("<BEGINVALUEDECLARE>") != std::string::npos ? declarations : values) = line;
        line.clear();
        inLine = false;
    };
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (bytes[i] == '\r') {
            endLine();
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            line += bytes[i];
            inLine = true;
        }
    }
    if (inLine) endLine();

    auto finish = [&] {
        result.declarations = declarations;
        result.values = values;
        return result;
    };
    declarations = declarations.size() > 20 ? declarations.substr(20) : std::string();
    if (declarations.size() < 18) return finish();
    declarations = declarations.substr(0, declarations.size() - 18);
    if (!values.empty()) values = values.substr(1);
    if (values.empty()) return finish();
    values = values.substr(0, values.size() - 1);

    std::vector<std::string> keys;
    for (auto& [name, data] : referenceEnumerate(declarations, values)) {
        if (std::find(keys.begin(), keys.end(), lower(name)) != keys.end()) break;
        keys.push_back(lower(name));
        result.published.emplace_back(name, data);
    }
    return finish();
}

std::string StoreModel::Texts::declarations() const {
    std::string text;
    for (const Record& r : records) text += "(" + r.name + ")";
    return text;
}

std::string StoreModel::Texts::values() const {
    std::string text(leading, ' ');
    for (const Record& r : records) text += r.name + " (" + r.data + ")" + std::string(r.spacing, ' ');
    return text;
}

std::string StoreModel::Texts::file() const {
    return "\"<BEGINVALUEDECLARE>" + declarations() + "<ENDVALUEDECLARE>\"\r\n\"" + values() + "\"\r\n";
}

StoreModel::Texts StoreModel::defaultContent() { return Texts{0, {{"NULL", "0", 0}}}; }

bool StoreModel::storable(const std::string& text) {
    return text.find_first_of("()\r\n") == std::string::npos && text.find("<BEGINVALUEDECLARE>") == std::string::npos;
}

StoreModel::Result StoreModel::load() {
    if (file) {
        working = *file;
        return Result::done;
    }
    if (writesFail) return Result::failed;
    file = defaultContent();
    return Result::done;
}

StoreModel::Result StoreModel::save() {
    if (writesFail) return Result::failed;
    file = working;
    return Result::done;
}

StoreModel::Record* StoreModel::own(const std::string& name) {
    const auto it =
        std::find_if(working.records.begin(), working.records.end(), [&](const Record& r) { return r.name == name; });
    return it == working.records.end() ? nullptr : &*it;
}

StoreModel::Result StoreModel::add(const std::string& name, const std::string& data, bool automaticRewrite) {
    if (!storable(name) || !storable(data)) return Result::refused;
    if (load() == Result::failed) return Result::failed;
    const std::string declarations = working.declarations();
    if (!declarations.empty() && declarations.find(name) != std::string::npos) {
        if (automaticRewrite) return rewrite(name, data);
        return Result::ambiguous;
    }
    working.records.push_back({name, data, 1});
    return save();
}

StoreModel::Result StoreModel::rewrite(const std::string& name, const std::string& data) {
    if (!storable(name) || !storable(data)) return Result::refused;
    if (load() == Result::failed) return Result::failed;
    Record* record = own(name);
    if (!record) return Result::notFound;
    record->data = data;
    ++record->spacing;
    return save();
}

StoreModel::Result StoreModel::remove(const std::string& name) {
    if (!storable(name) || name.empty()) return Result::refused;
    if (load() == Result::failed) return Result::failed;
    Record* record = own(name);
    if (!record) return Result::notFound;
    const auto index = static_cast<std::size_t>(record - working.records.data());
    (index == 0 ? working.leading : working.records[index - 1].spacing) += record->spacing;
    working.records.erase(working.records.begin() + static_cast<std::ptrdiff_t>(index));
    const Result saved = save();
    load();
    return saved;
}

StoreModel::Result StoreModel::clear() {
    working = Texts{};
    if (writesFail) return Result::failed;
    file = defaultContent();
    return Result::done;
}

} // namespace vs::test
