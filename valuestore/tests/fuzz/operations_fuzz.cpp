// libFuzzer target: sequences of operations on one store, with the file going missing and saves
// failing in between. The file and the working texts must follow the model of the operations, and every
// load must publish what the plain rendering of the rules gives.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "valuestore/core/value_store.h"
#include "valuestore/tests/support/memory_file_system.h"
#include "valuestore/tests/support/reference_store.h"

namespace {

void check(bool condition, const char* what, int step) {
    if (!condition) {
        std::fprintf(stderr, "check failed at step %d: %s\n", step, what);
        std::abort();
    }
}

// Short names that overlap each other, the default value's name and the layout's characters.
const char* const kWords[] = {"",
                              "a",
                              "b",
                              "ab",
                              "ba",
                              "aa",
                              " a",
                              "  a",
                              "a ",
                              "A",
                              "NULL",
                              "N",
                              "UL",
                              "a b",
                              "\"",
                              "(",
                              ")",
                              "\r",
                              "\n",
                              "<BEGINVALUEDECLARE>",
                              "<ENDVALUEDECLARE>",
                              ") ",
                              "LL (0"};
constexpr std::size_t kWordCount = sizeof kWords / sizeof kWords[0];

class Input {
public:
    Input(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}
    bool empty() const { return at_ >= size_; }
    unsigned byte() { return at_ < size_ ? data_[at_++] : 0; }
    // A word from the list, or a few raw bytes.
    std::string text() {
        const unsigned choice = byte();
        if (choice < 200) return kWords[choice % kWordCount];
        std::string raw;
        for (unsigned n = choice % 4; n > 0; --n) raw += static_cast<char>(byte());
        return raw;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    vs::test::MemoryFileSystem fs;
    vs::ValueStore store(fs);
    store.setDataFileSource([] { return std::string("d"); });
    vs::test::StoreModel model;
    using R = vs::test::StoreModel::Result;

    for (int step = 0; !in.empty() && step < 200; ++step) {
        const unsigned op = in.byte() % 8;
        const std::string name = in.text();
        const std::string value = in.text();
        const bool automatic = in.byte() % 2 == 0;
        store.setNewValueData(value);
        store.setAutomaticRewrite(automatic);
        const std::string before = store.declarationText() + "|" + store.valueText();
        R expected = R::done;
        vs::Outcome outcome = vs::Outcome::done;
        int errorNumber = 0;
        try {
            switch (op) {
            case 0:
            case 1:
                expected = model.add(name, value, automatic);
                outcome = store.addDataValue(name);
                break;
            case 2:
                expected = model.rewrite(name, value);
                outcome = store.rewriteDataValue(name);
                break;
            case 3:
                expected = model.remove(name);
                outcome = store.removeDataValue(name);
                break;
            case 4:
                expected = model.clear();
                outcome = store.clearAll();
                break;
            case 5: {
                const auto it = fs.files.find("d");
                const bool present = it != fs.files.end();
                const auto reference =
                    vs::test::referenceLoad(present ? it->second : "", store.declarationText(), store.valueText());
                expected = model.load();
                store.getDataValues();
                if (present)
                    check(store.values() == reference.published, "published values differ from the reference", step);
                break;
            }
            case 6:
                fs.files.erase("d");
                model.file.reset();
                continue;
            default:
                model.writesFail = !model.writesFail;
                if (model.writesFail)
                    fs.writeFailure = vs::error::diskFull;
                else
                    fs.writeFailure.reset();
                continue;
            }
        } catch (const vs::StoreError& e) {
            errorNumber = e.number;
        }
        check((errorNumber == vs::error::invalidArgument) == (expected == R::refused), "refusal differs", step);
        check((errorNumber == vs::error::diskFull) == (expected == R::failed), "file error differs", step);
        if (expected == R::refused)
            check(store.declarationText() + "|" + store.valueText() == before, "refused input changed the texts", step);
        if (expected == R::ambiguous) check(outcome == vs::Outcome::ambiguous, "not refused as ambiguous", step);
        if (expected == R::notFound) check(outcome == vs::Outcome::notFound, "not reported as not found", step);
        const auto it = fs.files.find("d");
        check((it == fs.files.end()) == !model.file, "file presence differs", step);
        if (model.file) check(it->second == model.file->file(), "file bytes differ from the model", step);
        check(store.declarationText() == model.working.declarations(), "declaration text differs from the model", step);
        check(store.valueText() == model.working.values(), "value text differs from the model", step);
    }
    return 0;
}
