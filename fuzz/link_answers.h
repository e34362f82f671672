#pragma once

// The host side of the link against a line that answers with arbitrary bytes.
//
// The link is driven through one board connection after another as long as the input lasts:
// the connection's own open sequence (link::BoardConnection: initialisation, timer
// settings, probe, ping, open), then the identity, parameter, version and ESN reads and the
// programming writes of an upgrade, then close. Every read of the line takes the next
// chunk of the input (chunk_stream.h). What the link promises, and the harness checks:
//   - every frame it sends is a well-formed request for exactly the call being made, and a
//     resend is the very same frame, at most `tries` times per call;
//   - a call succeeds only on the exact ACK answer bound to its own request: the bytes the
//     line gave since the last frame went out are that answer and nothing else, and a read
//     returns that answer's data;
//   - a failed read leaves the caller's buffer as it was; a ping accepted only from a
//     Lodestar board of the asked bus address.

#include "core/clock.h"
#include "fuzz/chunk_stream.h"
#include "fuzz/finding.h"
#include "link/board_connection.h"
#include "link/serial_board_link.h"
#include "link/timer_words.h"
#include "wire/byte_channel.h"
#include "wire/protocol.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fieldkit::fuzz {

inline constexpr int kFuzzPort = 1;
inline constexpr int kLinkSessionRounds = 4;

struct LinkStep {
    wire::FrameKind kind;
    std::uint16_t address;
    std::uint16_t count;
};

// One connection's reads and writes, in an upgrade's order (one page, one verify).
inline constexpr std::array<LinkStep, 13> kConnectionSteps{{
    {wire::FrameKind::Read, link::ADDR_IDENTITY_BLOCK, link::kIdentityBlockSize},
    {wire::FrameKind::Read, link::ADDR_PARAMETER_BLOCK, link::kParameterBlockSize},
    {wire::FrameKind::Read, link::ADDR_FIRMWARE_VERSION, link::kVersionSize},
    {wire::FrameKind::Read, link::ADDR_FIRMWARE_VERSION, link::kVersionRetrySize},
    {wire::FrameKind::Read, link::ADDR_ESN, link::kEsnSize},
    {wire::FrameKind::Write, 0x1201, 1},   // programming mode
    {wire::FrameKind::Write, 0x111A, 1},   // erase block 0x1A
    {wire::FrameKind::Write, 0x011A, 1},   // select block 0x1A
    {wire::FrameKind::Write, 0x0000, 256}, // page data
    {wire::FrameKind::Write, 0xFFFF, 6},   // commit of the page at 0xA0000
    {wire::FrameKind::Write, 0x3000, 2},   // verify boot code
    {wire::FrameKind::Read, 0x0C00, 2},    // verify status
    {wire::FrameKind::Write, 0x1313, 1},   // finish
}};

// The bytes a write step sends: the commit record of the page at 0xA0000 for the commit,
// a counting pattern otherwise.
inline std::vector<std::uint8_t> stepPayload(const LinkStep& step)
{
    if (step.address == 0xFFFF)
        return {0x0A, 0x0B, 0x0C, 0x00, 0x00, 0x0A};
    std::vector<std::uint8_t> payload(step.count);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i * 7);
    return payload;
}

// What one call of a session did, for the harness to judge.
struct StepOutcome {
    const LinkStep* step;                  // null for the connection's open sequence and its ping
    std::span<const std::uint8_t> payload; // what a write sent
    std::span<const std::uint8_t> data;    // what a read filled in
    int result;
};

// Opens a board connection and runs its calls, `rounds` times or until `keepGoing` says
// stop, and hands each outcome to `judge`.
template <typename KeepGoing, typename Judge>
void runLinkSession(link::SerialBoardLink& boardLink, int rounds, KeepGoing keepGoing, Judge judge)
{
    SystemClock clock; // a connection without pauses never sleeps
    for (int round = 0; round < rounds && keepGoing(); ++round) {
        link::BoardConnection connection(boardLink, clock);
        const auto failure = connection.open(kFuzzPort, false, nullptr);
        require(!failure || failure->kind == FailureKind::Ping, "only the ping of the open sequence depends on the board");
        judge(StepOutcome{nullptr, {}, {}, failure ? -1 : 0});
        if (failure)
            continue;
        for (const LinkStep& step : kConnectionSteps) {
            if (step.kind == wire::FrameKind::Read) {
                // Filled with a pattern, to see whether a failed read wrote into it.
                std::vector<std::uint8_t> buffer(step.count, 0xA5);
                const int result = boardLink.ReadDataOnly(kFuzzPort, buffer.data(), step.address, step.count);
                judge(StepOutcome{&step, {}, buffer, result});
            } else {
                const auto payload = stepPayload(step);
                const int result = boardLink.WriteDataOnly(kFuzzPort, payload.data(), step.address, step.count, 0);
                judge(StepOutcome{&step, payload, {}, result});
            }
        }
        connection.close();
    }
}

// Both ends of the line as the harness sees them: the answers still to come, and what
// went out and came back during the current call.
struct ScriptedLine {
    explicit ScriptedLine(std::span<const std::uint8_t> input) : answers(input) {}

    ChunkReader answers;
    std::vector<std::vector<std::uint8_t>> framesThisCall;
    std::vector<std::uint8_t> sinceLastFrame;
};

// A channel whose reads return the input's chunks, whatever was sent.
class ScriptedChannel final : public wire::ByteChannel {
public:
    explicit ScriptedChannel(ScriptedLine& line) : line_(line) {}

    wire::OpenResult open() override
    {
        open_ = true;
        return {};
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool write(std::span<const std::uint8_t> bytes) override
    {
        line_.framesThisCall.emplace_back(bytes.begin(), bytes.end());
        line_.sinceLastFrame.clear();
        return true;
    }
    std::size_t read(std::span<std::uint8_t> into, std::chrono::milliseconds) override
    {
        const auto chunk = line_.answers.next(into.size());
        std::copy(chunk.begin(), chunk.end(), into.begin());
        line_.sinceLastFrame.insert(line_.sinceLastFrame.end(), chunk.begin(), chunk.end());
        return chunk.size();
    }
    void discardInput() override {}

private:
    ScriptedLine& line_;
    bool open_ = false;
};

// The request a frame carries, decoded as the board would; none when it is no single
// well-formed frame.
inline std::optional<wire::Request> decodeFrame(std::span<const std::uint8_t> frame)
{
    wire::RequestDecoder decoder;
    std::optional<wire::Request> request;
    for (std::size_t i = 0; i < frame.size(); ++i) {
        request = decoder.feed(frame[i]);
        if (request && i + 1 != frame.size())
            return std::nullopt;
    }
    return request;
}

inline void judgeStep(link::BoardLink& boardLink, ScriptedLine& line, const StepOutcome& outcome)
{
    const bool isPing = outcome.step == nullptr;
    const auto kind = isPing ? wire::FrameKind::Ping : outcome.step->kind;
    const std::string what = isPing ? std::string("ping") : "request to " + std::to_string(outcome.step->address);

    require(!line.framesThisCall.empty(), what + ": a frame is sent");
    link::LinkTimers timers;
    require(boardLink.ReadTimers(timers) == 0 && line.framesThisCall.size() <= timers.words[link::TIMER_TRIES],
            what + ": at most `tries` transmissions");
    const auto& frame = line.framesThisCall.front();
    for (const auto& resend : line.framesThisCall)
        require(resend == frame, what + ": a resend is the very same frame");
    const auto request = decodeFrame(frame);
    require(request.has_value(), what + ": the frame is well formed");
    require(request->kind == kind, what + ": the frame is of the call's kind");
    if (isPing) {
        const wire::PingPayload asked{link::kRadioModel, link::kModelNumber, link::kLargestRead, link::kBoardAddress};
        require(request->payload == wire::encodePingPayload(asked), "ping: the frame names the radio and the board");
    } else {
        require(request->address == outcome.step->address, what + ": the frame carries the call's address");
        require(request->count == outcome.step->count, what + ": the frame carries the call's count");
    }
    if (kind == wire::FrameKind::Write)
        require(std::equal(request->payload.begin(), request->payload.end(), outcome.payload.begin(),
                           outcome.payload.end()),
                what + ": the frame carries the call's bytes");

    // A ping's reply stays inside the connection: what the line gave is its only witness, and
    // its version byte tells how long it is.
    const auto& given = line.sinceLastFrame;
    const std::size_t pingSize =
        given.size() > 1 + wire::kPingVersionOffset ? wire::pingAnswerSize(given[1 + wire::kPingVersionOffset]) : 0;
    const auto data = isPing && outcome.result == 0 && given.size() > pingSize
                          ? std::span<const std::uint8_t>(given).subspan(1, pingSize)
                          : outcome.data;
    if (outcome.result == 0) {
        const auto answer = kind == wire::FrameKind::Write ? wire::encodeWriteAnswer(wire::kAck, *request)
                                                            : wire::encodeDataAnswer(wire::kAck, *request, data);
        require(line.sinceLastFrame == answer, what + ": success only on this request's exact ACK answer");
    } else if (kind == wire::FrameKind::Read) {
        require(std::all_of(data.begin(), data.end(), [](std::uint8_t b) { return b == 0xA5; }),
                what + ": a failed read leaves the buffer as it was");
    }
    if (isPing && outcome.result == 0) {
        const std::string_view signature(reinterpret_cast<const char*>(data.data()), 8);
        require(signature == "LODESTAR" &&
                    (data[8] == wire::kProtocolVersion || data[8] == wire::kWindowProtocolVersion) &&
                    data[9] == link::kBoardAddress &&
                    (data[10] | data[11] << 8) >= link::kLargestRead,
                "ping: accepted only from a Lodestar board of the asked bus address");
    }
    line.framesThisCall.clear();
}

inline void replayLinkAnswers(std::span<const std::uint8_t> input)
{
    ScriptedLine line(input);
    link::SerialBoardLink boardLink([&line](int) { return std::make_unique<ScriptedChannel>(line); });
    runLinkSession(
        boardLink, kLinkSessionRounds, [&line] { return !line.answers.done(); },
        [&](const StepOutcome& outcome) { judgeStep(boardLink, line, outcome); });
}

} // namespace fieldkit::fuzz
