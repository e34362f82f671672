#pragma once

// The emulated board's end of the line against arbitrary bytes from the host.
//
// The input is a chunk stream (chunk_stream.h): each chunk arrives at the board at once, a
// silence tells it the line has been quiet for its frame gap. A second RequestDecoder reads
// the same bytes beside the board. What the board end promises, and the harness checks:
//   - every request decoded from the line re-encodes to the frame it came from;
//   - the board's output is exactly one answer per request in order, each bound to that
//     request (a write's ACK or NAK token, a read's verdict, data and CRC; a ping answered
//     or left unanswered), and nothing else;
//   - whatever it is told, the board changes no flash outside its five application blocks
//     and its boot area.

#include "fuzz/chunk_stream.h"
#include "fuzz/finding.h"
#include "sim/board_endpoint.h"
#include "sim/board_map.h"
#include "sim/board_options.h"
#include "wire/protocol.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

namespace fieldkit::fuzz {

inline std::uint16_t littleEndian16At(std::span<const std::uint8_t> bytes, std::size_t at)
{
    return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

// Whether `reply` holds at `at` a data answer to `request` with `dataSize` data bytes.
inline bool isDataAnswerAt(std::span<const std::uint8_t> reply, std::size_t at, const wire::Request& request,
                           std::uint8_t verdict, std::size_t dataSize)
{
    if (reply.size() - at < 1 + dataSize + wire::kCrcSize || reply[at] != verdict)
        return false;
    const auto data = reply.subspan(at + 1, dataSize);
    const std::uint16_t crc = wire::dataAnswerCrc(request.control, request.crc, verdict, data);
    return littleEndian16At(reply, at + 1 + dataSize) == crc;
}

// Consumes the answer to `request` from `reply` at `at`; throws when it is not there.
inline std::size_t answerEnd(std::span<const std::uint8_t> reply, std::size_t at, const wire::Request& request)
{
    switch (request.kind) {
    case wire::FrameKind::Write: {
        require(reply.size() - at >= wire::kWriteAnswerSize, "every write is answered");
        const std::uint16_t token = littleEndian16At(reply, at);
        require(token == wire::writeAnswerToken(wire::kAck, request.control, request.crc) ||
                    token == wire::writeAnswerToken(wire::kNak, request.control, request.crc),
                "a write's answer is this request's ACK or NAK token");
        return at + wire::kWriteAnswerSize;
    }
    case wire::FrameKind::Read:
        if (isDataAnswerAt(reply, at, request, wire::kAck, request.count))
            return at + 1 + request.count + wire::kCrcSize;
        require(isDataAnswerAt(reply, at, request, wire::kNak, 0),
                "a read's answer is this request's data or refusal");
        return at + 1 + wire::kCrcSize;
    case wire::FrameKind::Ping: {
        // A board that does not recognise the radio stays silent.
        const std::size_t size = wire::pingAnswerSize(sim::BoardOptions{}.protocolVersion);
        if (isDataAnswerAt(reply, at, request, wire::kAck, size))
            return at + 1 + size + wire::kCrcSize;
        return at;
    }
    }
    throw Finding("a request of no known kind was decoded");
}

inline void requireReencodes(const wire::Request& request)
{
    const auto frame = wire::encodeRequest(request.kind, request.sequence, request.address, request.count,
                                           request.payload);
    require(frame.front() == request.control && wire::requestCrc(frame) == request.crc,
            "a decoded request re-encodes to its frame");
}

inline void requireFlashOutsideBlocksUntouched(std::span<const std::uint8_t> flash)
{
    // Compared with memcmp: a byte-by-byte loop under the fuzzer's instrumentation would
    // cost more than the board's own work.
    static const std::vector<std::uint8_t> erased(sim::kApplicationAreaBase, sim::kErasedByte);
    const std::size_t applicationEnd = sim::kApplicationAreaBase + sim::kApplicationAreaSize;
    require(std::memcmp(flash.data(), erased.data(), sim::kApplicationAreaBase) == 0 &&
                std::memcmp(flash.data() + applicationEnd, erased.data(), sim::kBootAreaBase - applicationEnd) == 0,
            "no flash outside the application blocks and the boot area is changed");
}

inline void replayBoardRequests(std::span<const std::uint8_t> input)
{
    sim::BoardEndpoint endpoint{sim::BoardOptions{}};
    wire::RequestDecoder beside;
    ChunkReader chunks(input);
    while (!chunks.done()) {
        const auto chunk = chunks.next(kLongestChunk);
        if (chunk.empty()) {
            endpoint.lineIdle();
            beside.gap();
            continue;
        }
        const auto reply = endpoint.receive(chunk);
        std::size_t at = 0;
        for (const std::uint8_t byte : chunk) {
            if (const auto request = beside.feed(byte)) {
                requireReencodes(*request);
                at = answerEnd(reply, at, *request);
            }
        }
        require(at == reply.size(), "the board sends nothing but the answers to requests");
    }
    requireFlashOutsideBlocksUntouched(endpoint.flashSnapshot());
}

} // namespace fieldkit::fuzz
