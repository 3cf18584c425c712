#pragma once
// What the tests that send an image through SendFile to lrzsz's rx share: the sizes and modes
// they try, the image they send, and the check of the file rx wrote. rx keeps the padding of the
// last block, so that file must be the image followed by pad bytes up to a whole block.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace qz::test {

struct RxCase {
    std::size_t size;
    bool crc;
};

// 0, 1, 127, 128, 129 bytes and 1 MiB, each with CRC blocks and with checksum blocks.
std::vector<RxCase> rxCases();

// "129_crc", "0_checksum": the case's part of a test or file name.
std::string rxCaseName(const RxCase& rxCase);
// GoogleTest shows a case by its name (not by the bytes of the struct).
inline void PrintTo(const RxCase& rxCase, std::ostream* out) { *out << rxCaseName(rxCase); }

// `size` bytes drawn from a generator seeded with `seed`.
std::vector<std::uint8_t> randomImage(std::size_t size, unsigned seed);
void writeImage(const std::filesystem::path& file, const std::vector<std::uint8_t>& image);
std::vector<std::uint8_t> readImage(const std::filesystem::path& file);

// Success when `received` is `image` padded with 0x1A up to a whole number of 128-byte blocks.
::testing::AssertionResult isPaddedImage(const std::vector<std::uint8_t>& image,
                                         const std::vector<std::uint8_t>& received);

} // namespace qz::test
