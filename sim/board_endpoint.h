#pragma once

#include "sim/board.h"
#include "sim/board_options.h"
#include "sim/request_log.h"
#include "wire/protocol.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <span>
#include <string>
#include <vector>

namespace fieldkit::sim {

struct LineCounters {
    std::uint64_t requests = 0;        // requests the board executed
    std::uint64_t payloadBytesIn = 0;  // data carried by those requests (writes, pings)
    std::uint64_t payloadBytesOut = 0; // data carried by the answers (reads, pings)
    std::uint64_t wireBytesIn = 0;     // bytes the host put on the line
    std::uint64_t wireBytesOut = 0;    // bytes the board put on the line
    std::uint64_t repeats = 0;         // requests sent again by the host, answered without executing
    std::uint64_t badFrames = 0;       // frames with a bad CRC or cut short
    std::uint64_t bytesLost = 0;       // dropped by --drop or after --dead-after, both ways
    std::uint64_t bytesCorrupted = 0;  // changed by --noise, both ways
    std::uint64_t bytesOverrun = 0;    // arrived while the receive buffer was full, and lost
};

// An answer the board puts on the line (line faults applied; empty when it stays silent or
// the line is dead), and the bytes of its request, which the board holds until the answer has
// left.
struct LineAnswer {
    std::vector<std::uint8_t> bytes;
    std::size_t requestBytes;
};

// The board's end of the line: frames the incoming bytes into requests, lets the board
// execute them, and puts the line's own faults (noise, lost bytes, a dead cable) between
// the board and the host. All calls may come from different threads.
class BoardEndpoint {
public:
    // Throws std::runtime_error when the --flash file cannot be read or the --request-log
    // file cannot be created.
    explicit BoardEndpoint(const BoardOptions& options);

    // Bytes that arrived from the host; returns the bytes the board sends back, each answer
    // leaving at once.
    std::vector<std::uint8_t> receive(std::span<const std::uint8_t> bytes);

    // The same for a line that takes time: each request stays in the receive buffer until
    // answerSent() says its answer has left.
    std::vector<LineAnswer> receiveHolding(std::span<const std::uint8_t> bytes);
    void answerSent(std::size_t requestBytes);
    // How many more bytes from the host decide something: end a request's header or the
    // request (so its answer can be timed), or any number while the board throws bytes away.
    std::size_t bytesUntilDecided() const;

    // The line has been silent for wire::kBoardFrameGap.
    void lineIdle();

    std::vector<std::uint8_t> flashSnapshot() const;
    LineCounters counters() const;
    BoardCounters boardCounters() const;
    std::string lastDumpError() const;

private:
    // Whether the line loses this byte, and if not, the byte as it arrives.
    std::optional<std::uint8_t> passLine(std::uint8_t byte);
    void feed(std::span<const std::uint8_t> bytes, std::vector<LineAnswer>& answers);
    std::vector<std::uint8_t> answer(const wire::Request& request);
    const std::vector<std::uint8_t>* rememberedAnswer(const wire::Request& request) const;
    bool lineDead() const;
    bool oneIn(unsigned n);

    struct RememberedAnswer {
        std::uint8_t control;
        std::uint16_t crc;
        std::vector<std::uint8_t> answer;
    };

    mutable std::mutex mutex_;
    Board board_;
    wire::RequestDecoder decoder_;
    unsigned noiseOneIn_;
    unsigned dropOneIn_;
    std::optional<std::uint64_t> deadAfterBytes_;
    std::mt19937 random_;
    std::size_t receiveBuffer_;
    std::size_t awaitingAnswer_ = 0; // bytes of requests whose answers have not left yet
    std::size_t answersRemembered_;
    std::deque<RememberedAnswer> lastAnswers_; // oldest first
    LineCounters counters_;
    std::unique_ptr<RequestLog> requestLog_; // only with --request-log
};

} // namespace fieldkit::sim
