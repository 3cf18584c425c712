#pragma once
// A byte stream with a read that waits a bounded time: what the XMODEM sender needs of a line.

#include <cstddef>
#include <cstdint>
#include <span>

namespace qz {

enum class ReadStatus {
    data,     // at least one byte was read
    timedOut, // nothing arrived within the timeout
    error,    // the line failed (closed, device gone, I/O error)
};

struct ReadResult {
    ReadStatus status = ReadStatus::timedOut;
    std::size_t count = 0; // bytes stored, > 0 only with ReadStatus::data
};

class ByteChannel {
public:
    virtual ~ByteChannel() = default;

    // Waits up to timeoutMs (0: does not wait) for input and returns as soon as at least one
    // byte is there, with as many bytes as are at hand (up to buffer.size()).
    virtual ReadResult read(std::span<std::uint8_t> buffer, int timeoutMs) = 0;
    // Writes every byte; false when the line failed.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;
    // Drops input that has arrived and not been read.
    virtual void discardInput() = 0;
};

} // namespace qz
