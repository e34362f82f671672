#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace fieldkit::wire {

// Why a channel could not be opened, so that a front end can add a hint for the user.
enum class OpenFailure { None, NotFound, PermissionDenied, Busy, NotASerialPort, Other };

struct OpenResult {
    OpenFailure failure = OpenFailure::None;
    std::string detail; // the system's own words, for hints and logs

    bool ok() const { return failure == OpenFailure::None; }
};

// The one seam between the link logic and a piece of hardware: a serial port, a
// pseudo-terminal, or an in-memory board in tests.
class ByteChannel {
public:
    virtual ~ByteChannel() = default;

    virtual OpenResult open() = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // Sends all bytes; false when the line is gone.
    virtual bool write(std::span<const std::uint8_t> bytes) = 0;

    // Fills `into` as far as bytes arrive within `timeout` in all; returns how many arrived
    // (0 on silence or a dead line). Never waits longer than `timeout`.
    virtual std::size_t read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) = 0;

    // Throws away whatever has arrived and not been read.
    virtual void discardInput() = 0;
};

} // namespace fieldkit::wire
