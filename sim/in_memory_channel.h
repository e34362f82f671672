#pragma once

#include "sim/board_endpoint.h"
#include "wire/byte_channel.h"

#include <cstddef>
#include <deque>
#include <optional>

namespace fieldkit::sim {

// A line to an emulated board with no real time in it: what the host writes reaches the
// board at once, and a read that finds nothing waiting counts as the host having left the
// line silent, so the board's frame gap passes and read() returns 0 immediately.
class InMemoryChannel final : public wire::ByteChannel {
public:
    explicit InMemoryChannel(BoardEndpoint& endpoint) : endpoint_(endpoint) {}

    wire::OpenResult open() override;
    void close() override;
    bool isOpen() const override { return open_; }
    bool write(std::span<const std::uint8_t> bytes) override;
    std::size_t read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override;
    void discardInput() override { pending_.clear(); }

    // After `successfulOpensFirst` more opens have succeeded, every open fails with
    // `failure`: 0 fails the next open already, 1 lets a probe through and fails the next
    // one. OpenFailure::None lets every open succeed again.
    void failOpens(wire::OpenFailure failure, std::size_t successfulOpensFirst = 0);
    std::size_t openCount() const { return opens_; }

private:
    BoardEndpoint& endpoint_;
    std::deque<std::uint8_t> pending_;
    bool open_ = false;
    std::size_t opens_ = 0;
    std::optional<wire::OpenFailure> openFailure_;
    std::size_t successfulOpensFirst_ = 0;
};

} // namespace fieldkit::sim
