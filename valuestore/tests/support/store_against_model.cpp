#include "valuestore/tests/support/store_against_model.h"

namespace vs::test {

using Result = StoreModel::Result;

StoreAgainstModel::StoreAgainstModel(int writeFailure) : writeFailure_(writeFailure) {
    store_.setDataFileSource([] { return std::string(kPath); });
}

std::vector<std::string> StoreAgainstModel::apply(const Step& step) {
    differences_.clear();
    store_.setNewValueData(step.data);
    store_.setAutomaticRewrite(step.automaticRewrite);
    const std::string before = texts();
    Result expected = Result::done;
    Outcome outcome = Outcome::done;
    int errorNumber = 0;
    try {
        outcome = run(step, expected);
    } catch (const StoreError& e) {
        errorNumber = e.number;
    }
    compare(expected, outcome, errorNumber, before);
    return differences_;
}

// The model is told first, so that its result stands when the store throws.
Outcome StoreAgainstModel::run(const Step& step, Result& expected) {
    switch (step.operation) {
    case Operation::add:
        expected = model_.add(step.name, step.data, step.automaticRewrite);
        return store_.addDataValue(step.name);
    case Operation::rewrite: expected = model_.rewrite(step.name, step.data); return store_.rewriteDataValue(step.name);
    case Operation::remove: expected = model_.remove(step.name); return store_.removeDataValue(step.name);
    case Operation::clear: expected = model_.clear(); return store_.clearAll();
    case Operation::load:
        expected = model_.load();
        loadAgainstReference();
        return Outcome::done;
    case Operation::loseFile:
        fs_.files.erase(kPath);
        model_.file.reset();
        return Outcome::done;
    case Operation::switchWriteFailure:
        model_.writesFail = !model_.writesFail;
        if (model_.writesFail)
            fs_.writeFailure = writeFailure_;
        else
            fs_.writeFailure.reset();
        return Outcome::done;
    }
    return Outcome::done;
}

// A load of an existing file publishes what the plain rendering of the rules gives.
void StoreAgainstModel::loadAgainstReference() {
    const auto file = fs_.files.find(kPath);
    const bool present = file != fs_.files.end();
    const ReferenceLoad reference =
        referenceLoad(present ? file->second : "", store_.declarationText(), store_.valueText());
    store_.getDataValues();
    if (present && store_.values() != reference.published)
        differences_.push_back("the published values differ from the reference");
}

void StoreAgainstModel::compare(Result expected, Outcome outcome, int errorNumber, const std::string& textsBefore) {
    const auto differ = [this](const std::string& what, const std::string& actual, const std::string& modelled) {
        if (actual != modelled) differences_.push_back(what + ": '" + actual + "', modelled '" + modelled + "'");
    };
    const bool refused = errorNumber == error::invalidArgument, failed = errorNumber == writeFailure_;
    if (refused != (expected == Result::refused) || failed != (expected == Result::failed) ||
        (errorNumber != 0 && !refused && !failed))
        differences_.push_back("the error differs: " + std::to_string(errorNumber));
    if (expected == Result::refused) differ("refused input changed the working texts", texts(), textsBefore);
    if (expected == Result::ambiguous && outcome != Outcome::ambiguous)
        differences_.push_back("not refused as ambiguous");
    if (expected == Result::notFound && outcome != Outcome::notFound)
        differences_.push_back("not reported as not found");
    const auto file = fs_.files.find(kPath);
    differ("the file differs from the model", file == fs_.files.end() ? "(missing)" : file->second,
           model_.file ? model_.file->file() : "(missing)");
    differ("the declaration text differs from the model", store_.declarationText(), model_.working.declarations());
    differ("the value text differs from the model", store_.valueText(), model_.working.values());
}

} // namespace vs::test
