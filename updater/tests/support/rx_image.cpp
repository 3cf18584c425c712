#include "updater/tests/support/rx_image.h"

#include <algorithm>
#include <fstream>
#include <iterator>
#include <random>

namespace qz::test {

std::vector<RxCase> rxCases() {
    std::vector<RxCase> cases;
    for (const bool crc : {true, false}) {
        for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{127}, std::size_t{128},
                                       std::size_t{129}, std::size_t{1} << 20})
            cases.push_back({size, crc});
    }
    return cases;
}

std::string rxCaseName(const RxCase& rxCase) {
    return std::to_string(rxCase.size) + (rxCase.crc ? "_crc" : "_checksum");
}

std::vector<std::uint8_t> randomImage(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> image(size);
    std::mt19937 random(seed);
    for (auto& byte : image) byte = static_cast<std::uint8_t>(random());
    return image;
}

void writeImage(const std::filesystem::path& file, const std::vector<std::uint8_t>& image) {
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), static_cast<std::streamsize>(image.size()));
}

std::vector<std::uint8_t> readImage(const std::filesystem::path& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

::testing::AssertionResult isPaddedImage(const std::vector<std::uint8_t>& image,
                                         const std::vector<std::uint8_t>& received) {
    const std::size_t blocks = (image.size() + 127) / 128;
    if (received.size() != blocks * 128)
        return ::testing::AssertionFailure() << received.size() << " bytes received for " << blocks << " blocks";
    if (!std::equal(image.begin(), image.end(), received.begin()))
        return ::testing::AssertionFailure() << "the image differs";
    const auto pad = received.begin() + static_cast<std::ptrdiff_t>(image.size());
    if (!std::all_of(pad, received.end(), [](std::uint8_t byte) { return byte == 26; }))
        return ::testing::AssertionFailure() << "the last block is not padded with 0x1A";
    return ::testing::AssertionSuccess();
}

} // namespace qz::test
