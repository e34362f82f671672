#pragma once

#include "core/clock.h"
#include "link/board_link.h"
#include "link/channel_factory.h"
#include "link/line_profile.h"
#include "link/timer_words.h"
#include "wire/byte_channel.h"
#include "wire/protocol.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

namespace fieldkit::link {

// Timer settings as BriskDllInit leaves them (the words are listed in link/timer_words.h).
inline constexpr std::chrono::milliseconds kDefaultInterByteGap{20};
inline constexpr std::chrono::milliseconds kDefaultAnswerTimeout{500};
inline constexpr std::chrono::milliseconds kDefaultPingAnswerTimeout{300};
// A little over the board's own frame gap: the host sends nothing while it waits for a quiet
// line, so by then the board has had the silence it needs to drop a broken frame.
inline constexpr std::chrono::milliseconds kDefaultQuietTime{25};
inline constexpr std::chrono::milliseconds kDefaultQuietLimit{1000};
inline constexpr std::uint32_t kDefaultTries = 3;

inline constexpr std::chrono::milliseconds kLongestTimerSetting{60000};
inline constexpr std::uint32_t kMostTries = 20;
inline constexpr std::size_t kMaxModelNumberLength = 31;
inline constexpr int kLowestPort = 1;
inline constexpr int kHighestPort = 4;

// Results of the entry points. Callers only test for LINK_OK; the distinct values help a
// person reading a trace.
inline constexpr int LINK_OK = 0;
inline constexpr int LINK_NOT_INITIALISED = -1;
inline constexpr int LINK_BAD_ARGUMENT = -2;
inline constexpr int LINK_PORT_NOT_OPEN = -3;
inline constexpr int LINK_PORT_ALREADY_OPEN = -4;
inline constexpr int LINK_OPEN_FAILED = -5;
inline constexpr int LINK_LINE_LOST = -6;    // the channel refused to send
inline constexpr int LINK_NO_ANSWER = -7;    // no valid answer within the tries
inline constexpr int LINK_REFUSED = -8;      // the board answered with its refusal
inline constexpr int LINK_NOT_LODESTAR = -9; // something answered the ping, but not a Lodestar board

// The board link over a byte channel: frames each call as one request, waits for the board's
// answer bound to that request, and resends the same frame when the answer is lost or garbled.
class SerialBoardLink final : public BoardLink {
public:
    using ChannelFactory = link::ChannelFactory;

    struct Statistics {
        std::uint64_t requests = 0;          // new requests, each counted once however often sent
        std::uint64_t payloadBytes = 0;      // bytes written or read by requests that succeeded
        std::uint64_t wireBytesSent = 0;     // every byte sent, resends included
        std::uint64_t wireBytesReceived = 0; // every byte read from the line, noise included
        std::uint64_t retries = 0;           // resends of a request

        // The answers' turnaround, timed only when the link has a clock: how many answers
        // began to arrive, the time from handing each request to the channel to its answer's
        // first byte, and how much of that the request itself spent on the line.
        std::uint64_t answersTimed = 0;
        std::chrono::milliseconds answerWait{0};
        std::chrono::microseconds requestLineTime{0};

        // The mean time the line stayed quiet between a request's last byte and its answer's
        // first byte: the board's own turnaround plus whatever the cable's adapter held the
        // answer back. Zero when no answer was timed.
        std::chrono::microseconds meanTurnaround() const;
    };

    // `clock`, when given, times the answers' turnaround for the statistics; it changes
    // nothing else the link does.
    explicit SerialBoardLink(ChannelFactory channels, Clock* clock = nullptr);
    ~SerialBoardLink() override;
    SerialBoardLink(const SerialBoardLink&) = delete;
    SerialBoardLink& operator=(const SerialBoardLink&) = delete;

    int BriskDllInit(const char* radioModel, const char* modelNumber, int largestRead, int boardAddress) override;
    int ReadTimers(LinkTimers& timers) override;
    int ConfigureTimers(const LinkTimers& timers) override;
    int OpenPort(int port) override;
    void ClosePort() override;
    int Ping_Opt_Board(int port, std::uint8_t* reply) override;
    int ReadDataOnly(int port, std::uint8_t* destination, std::uint32_t address, std::uint32_t count) override;
    int WriteDataOnly(int port, const std::uint8_t* source, std::uint32_t address, std::uint32_t count,
                      int flags) override;

    // Why the last attempt to open a channel failed (ok() when it succeeded).
    const wire::OpenResult& lastOpenResult() const { return lastOpenResult_; }
    const Statistics& statistics() const { return statistics_; }

private:
    enum class Outcome { Accepted, Refused, Garbled };

    // One request as the caller asked for it.
    struct Exchange {
        wire::FrameKind kind;
        std::uint16_t address;
        std::size_t count;
        std::span<const std::uint8_t> payload;
        std::span<std::uint8_t> answerData; // reads and pings: filled only when accepted
        std::chrono::milliseconds firstByteTimeout;
    };

    std::unique_ptr<wire::ByteChannel> openChannel(int port);
    bool isOpenOn(int port) const { return channel_ != nullptr && openPort_ == port; }
    int transact(wire::ByteChannel& channel, const Exchange& exchange);
    Outcome awaitWriteAnswer(wire::ByteChannel& channel, const Exchange& exchange, std::uint8_t control,
                             std::uint16_t requestCrc);
    Outcome awaitDataAnswer(wire::ByteChannel& channel, const Exchange& exchange, std::uint8_t control,
                            std::uint16_t requestCrc);
    std::size_t receive(wire::ByteChannel& channel, std::span<std::uint8_t> into, std::chrono::milliseconds firstWait);
    bool moreBytesWaiting(wire::ByteChannel& channel);
    bool waitForQuietLine(wire::ByteChannel& channel);
    std::chrono::milliseconds timer(std::size_t word) const { return std::chrono::milliseconds(timers_.words[word]); }
    std::chrono::microseconds lineTimeOf(std::size_t bytes) const;

    // A request handed to the channel whose answer has not begun to arrive yet.
    struct AwaitedAnswer {
        std::uint32_t handedOverAtMs;
        std::chrono::microseconds requestLineTime;
    };

    ChannelFactory channels_;
    Clock* clock_;
    std::optional<AwaitedAnswer> awaitedAnswer_;
    std::unique_ptr<wire::ByteChannel> channel_;
    int openPort_ = 0;
    bool initialised_ = false;
    LineProfile profile_{};
    wire::PingPayload ping_;
    LinkTimers timers_;
    std::uint8_t nextSequence_ = 0;
    wire::OpenResult lastOpenResult_;
    Statistics statistics_;
};

// The ten words as BriskDllInit leaves them for a line profile.
LinkTimers defaultTimers(const LineProfile& profile);

// Whether ConfigureTimers takes these words on a line of the given profile.
bool timersAreValid(const LinkTimers& timers, const LineProfile& profile);

} // namespace fieldkit::link
