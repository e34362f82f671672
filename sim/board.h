#pragma once

#include "sim/board_map.h"
#include "sim/board_options.h"
#include "wire/protocol.h"

#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fieldkit::sim {

struct BoardCounters {
    std::uint64_t requests = 0; // requests executed
    std::uint64_t refused = 0;  // answered with a NAK
    std::uint64_t pagesProgrammed = 0;
    std::uint64_t blocksErased = 0;
    std::uint64_t finishes = 0;
    std::uint64_t flashDumpFailures = 0;
};

// The option board itself: its identity registers, its flash and the programming commands
// that change it. It behaves as the hardware does rather than agreeing with the host:
// erased flash is 0xFF and programming ANDs the new bytes into the old ones, so a page
// written without an erase reads back wrong and fails the checksum verification.
class Board {
public:
    // Throws std::runtime_error when the --flash file cannot be read.
    explicit Board(const BoardOptions& options);

    // Executes one request that arrived whole and returns the bytes the board answers with;
    // empty when the board stays silent (a ping it does not answer).
    std::vector<std::uint8_t> handle(const wire::Request& request);

    // 1 MiB; index = flash address.
    std::span<const std::uint8_t> flash() const { return flash_; }
    const BoardCounters& counters() const { return counters_; }
    bool inProgrammingMode() const { return programmingMode_; }
    // Why the last flash dump failed; empty when none did.
    const std::string& lastDumpError() const { return lastDumpError_; }

private:
    // A page being prepared for its commit: the accepted block select, and the accepted
    // page data that came right after it, each with its sequence number.
    struct PagePreparation {
        FlashBlock block;
        std::uint8_t selectSequence;
        std::optional<std::uint8_t> dataSequence;
        std::array<std::uint8_t, kPageSize> data{};
    };

    std::vector<std::uint8_t> handleRead(const wire::Request& request);
    std::vector<std::uint8_t> handlePing(const wire::Request& request) const;
    bool execute(const wire::Request& request);
    bool selectBlock(std::uint8_t number, std::uint8_t sequence);
    bool takePageData(std::span<const std::uint8_t> data, std::uint8_t sequence,
                      std::optional<PagePreparation> prepared);
    bool eraseBlock(std::uint8_t number);
    bool commitPage(std::span<const std::uint8_t> record, std::uint8_t sequence,
                    const std::optional<PagePreparation>& prepared);
    bool verify(std::uint16_t word, std::span<const std::uint8_t> data);
    bool copyBootCode();
    void finish();
    std::optional<std::vector<std::uint8_t>> readMemory(std::uint16_t address, std::size_t count) const;
    unsigned failingAttemptsAt(std::uint32_t pageAddress) const;
    std::uint16_t checksumOf(std::uint32_t base, std::uint32_t size) const;
    void fill(std::uint32_t base, std::uint32_t size, std::uint8_t value);

    BoardOptions options_;
    std::array<std::uint8_t, kVersionAnswerSize> versionAnswer_;
    std::array<std::uint8_t, kIdentityBlockSize> identityBlock_;
    std::vector<std::uint8_t> parameterBlock_;
    std::vector<std::uint8_t> flash_;

    bool programmingMode_ = false;
    std::optional<PagePreparation> preparation_;
    std::array<std::uint8_t, kVerifyStatusSize> verifyStatus_{};
    bool bootCodeVerified_ = false;                    // the temporary area holds boot code that passed its check
    std::map<std::uint32_t, unsigned> failedAttempts_; // per page address, of the current page write

    BoardCounters counters_;
    std::string lastDumpError_;
};

// The board's checksum: the 16-bit wrapping sum of the bytes, negated, so that the bytes
// and the checksum together add up to 0.
std::uint16_t boardChecksum(std::span<const std::uint8_t> bytes);

} // namespace fieldkit::sim
