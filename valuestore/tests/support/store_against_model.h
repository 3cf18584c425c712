// A store over an in-memory file system and the model of its operations, driven by the same steps:
// the random-operation test and the operations fuzz target run their sequences through it.
#pragma once

#include <string>
#include <vector>

#include "valuestore/core/value_store.h"
#include "valuestore/tests/support/memory_file_system.h"
#include "valuestore/tests/support/reference_store.h"

namespace vs::test {

enum class Operation {
    add,
    rewrite,
    remove,
    clear,
    load,
    loseFile,          // the data file goes missing
    switchWriteFailure // saves start or stop failing
};

struct Step {
    Operation operation = Operation::load;
    std::string name;
    std::string data; // the new value data set before the operation
    bool automaticRewrite = false;
};

class StoreAgainstModel {
public:
    // Saves that fail throw a file error with this number.
    explicit StoreAgainstModel(int writeFailure);

    // Applies the step to both. Returns what the store did differently from the model: its outcome,
    // its error, the data file and the working texts; and for a load, the values it published against
    // the plain rendering of the rules. Empty when the store followed the model.
    std::vector<std::string> apply(const Step& step);

    static constexpr const char* kPath = "data.txt";

private:
    Outcome run(const Step& step, StoreModel::Result& expected);
    void loadAgainstReference();
    void compare(StoreModel::Result expected, Outcome outcome, int errorNumber, const std::string& textsBefore);
    std::string texts() const { return store_.declarationText() + "|" + store_.valueText(); }

    int writeFailure_;
    MemoryFileSystem fs_;
    ValueStore store_{fs_};
    StoreModel model_;
    std::vector<std::string> differences_;
};

} // namespace vs::test
