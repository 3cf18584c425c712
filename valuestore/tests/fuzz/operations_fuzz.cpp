// libFuzzer target: sequences of operations on one store, with the file going missing and saves
// failing in between. The file and the working texts must follow the model of the operations, and every
// load must publish what the plain rendering of the rules gives (vs::test::StoreAgainstModel).
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "valuestore/core/store_error.h"
#include "valuestore/tests/support/store_against_model.h"

namespace {

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
    // An operation with its name, data and automatic rewrite. Two adds in eight; the file goes missing
    // in one, saves start or stop failing in another.
    vs::test::Step step() {
        static constexpr vs::test::Operation kOperations[] = {
            vs::test::Operation::add,      vs::test::Operation::add,
            vs::test::Operation::rewrite,  vs::test::Operation::remove,
            vs::test::Operation::clear,    vs::test::Operation::load,
            vs::test::Operation::loseFile, vs::test::Operation::switchWriteFailure};
        vs::test::Step step;
        step.operation = kOperations[byte() % 8];
        step.name = text();
        step.data = text();
        step.automaticRewrite = byte() % 2 == 0;
        return step;
    }

private:
    // A word from the list, or a few raw bytes.
    std::string text() {
        const unsigned choice = byte();
        if (choice < 200) return kWords[choice % kWordCount];
        std::string raw;
        for (unsigned n = choice % 4; n > 0; --n) raw += static_cast<char>(byte());
        return raw;
    }

    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Input in(data, size);
    vs::test::StoreAgainstModel run(vs::error::diskFull);
    for (int step = 0; !in.empty() && step < 200; ++step) {
        const std::vector<std::string> differences = run.apply(in.step());
        if (!differences.empty()) {
            std::fprintf(stderr, "check failed at step %d: %s\n", step, differences.front().c_str());
            std::abort();
        }
    }
    return 0;
}
