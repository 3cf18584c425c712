// Benchmark of the value store: GetDataValues and AddDataValue on stores of 1,000 and 10,000 values,
// over memory (the store's own work) and over a file on disk (with the flushed, atomic save).
// Prints median and minimum times and the growth t(10,000) / t(1,000); checks that every load returned
// every value.
//   valuestore_bench [REPETITIONS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "valuestore/core/value_store.h"

namespace {

// The store's work alone: whole files kept in memory.
class MemoryFileSystem final : public vs::FileSystem {
public:
    bool namesSingleFile(const std::string& path) override { return vs::mayNameSingleFile(path); }
    std::optional<std::string> readFile(const std::string& path) override {
        const auto it = files.find(path);
        return it == files.end() ? std::nullopt : std::optional<std::string>(it->second);
    }
    void replaceFile(const std::string& path, std::string_view content) override { files[path] = std::string(content); }
    void removeFile(const std::string& path) override { files.erase(path); }
    std::map<std::string, std::string> files;
};

// A data file of `count` values named Value0, Value1, ... as AddDataValue writes them.
std::string storeOf(std::size_t count) {
    std::string declarations, values;
    for (std::size_t i = 0; i < count; ++i) {
        const std::string name = "Value" + std::to_string(i);
        declarations += "(" + name + ")";
        values += name + " (data " + std::to_string(i * 7919 % 100000) + ") ";
    }
    return "\"<BEGINVALUEDECLARE>" + declarations + "<ENDVALUEDECLARE>\"\r\n\"" + values + "\"\r\n";
}

using Clock = std::chrono::steady_clock;

// Milliseconds of one call: the median and minimum of the elapsed (wall) time, and the median of the
// processor time. On a busy machine a longer call is more often preempted, which inflates its elapsed
// time; the minimum and the processor time are the least disturbed.
struct Time {
    double median = 0, minimum = 0, processor = 0;
};

struct Sample {
    double wall, processor;
};

Time summary(std::vector<Sample> samples) {
    auto middle = [&](auto field) {
        std::vector<double> values;
        for (const Sample& s : samples) values.push_back(s.*field);
        std::sort(values.begin(), values.end());
        return std::pair(values[values.size() / 2], values.front());
    };
    const auto [wallMedian, wallMinimum] = middle(&Sample::wall);
    return {wallMedian, wallMinimum, middle(&Sample::processor).first};
}

// Runs `call` once and returns its elapsed and processor time in milliseconds.
template <typename Call>
Sample timed(Call call) {
    const std::clock_t processorStart = std::clock();
    const auto start = Clock::now();
    call();
    const double wall = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    return {wall, 1000.0 * static_cast<double>(std::clock() - processorStart) / CLOCKS_PER_SEC};
}

struct Figures {
    Time get, add;
};

// `reset` puts the file of `count` values in place before each timed call (not timed).
template <typename Reset>
Figures measure(vs::FileSystem& fs, const std::string& path, std::size_t count, int repetitions, Reset reset) {
    vs::ValueStore store(fs);
    store.setDataFileSource([&] { return path; });
    store.setNewValueData("new data");
    std::vector<Sample> gets, adds;
    for (int r = 0; r < repetitions; ++r) {
        reset();
        gets.push_back(timed([&] { store.getDataValues(); }));
        if (store.values().size() != count ||
            store.values().back().second != "data " + std::to_string((count - 1) * 7919 % 100000)) {
            std::fprintf(stderr, "load returned %zu of %zu values\n", store.values().size(), count);
            std::exit(1);
        }
        reset();
        vs::Outcome outcome{};
        adds.push_back(timed([&] { outcome = store.addDataValue("Extra"); }));
        if (outcome != vs::Outcome::done || store.lastFileError()) {
            std::fprintf(stderr, "add failed\n");
            std::exit(1);
        }
    }
    return {summary(gets), summary(adds)};
}

void report(const char* where, const char* call, const Time& small, const Time& large) {
    std::printf("%-6s %-13s elapsed median %7.3f -> %7.3f ms (x%5.2f)  minimum %7.3f -> %7.3f ms (x%5.2f)  "
                "processor %7.3f -> %7.3f ms (x%5.2f)\n",
                where, call, small.median, large.median, large.median / small.median, small.minimum, large.minimum,
                large.minimum / small.minimum, small.processor, large.processor, large.processor / small.processor);
}

void report(const char* where, const Figures& small, const Figures& large) {
    report(where, "GetDataValues", small.get, large.get);
    report(where, "AddDataValue", small.add, large.add);
}

} // namespace

int main(int argc, char** argv) {
    const int repetitions = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;
    const std::string small = storeOf(1000), large = storeOf(10000);
    std::printf(
        "%d calls each on stores of 1,000 -> 10,000 values (files of %zu -> %zu bytes); (xN) = t(10,000) / t(1,000)\n",
        repetitions, small.size(), large.size());

    MemoryFileSystem memory;
    const std::string memoryPath = "values.txt";
    const Figures memorySmall =
        measure(memory, memoryPath, 1000, repetitions, [&] { memory.files[memoryPath] = small; });
    const Figures memoryLarge =
        measure(memory, memoryPath, 10000, repetitions, [&] { memory.files[memoryPath] = large; });
    report("memory", memorySmall, memoryLarge);

    const auto folder = std::filesystem::temp_directory_path() / ("valuestore-bench-" + std::to_string(std::rand()));
    std::filesystem::create_directories(folder);
    const std::string diskPath = (folder / "values.txt").string();
    vs::FileSystem& disk = vs::systemFileSystem();
    const Figures diskSmall = measure(disk, diskPath, 1000, repetitions, [&] { disk.replaceFile(diskPath, small); });
    const Figures diskLarge = measure(disk, diskPath, 10000, repetitions, [&] { disk.replaceFile(diskPath, large); });
    report("disk", diskSmall, diskLarge);
    std::filesystem::remove_all(folder);
    return 0;
}
