#pragma once

#include "core/clock.h"
#include "link/board_link.h"
#include "link/channel_factory.h"
#include "link/line_profile.h"
#include "link/link_result.h"
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

// The board link over a byte channel: frames each call as one request, waits for the board's
// answer bound to that request, and resends the same frame when the answer is lost or garbled.
// A board of protocol version 2 says in its ping answer how many bytes of requests it holds;
// the link's write window then keeps that many on the line.
class SerialBoardLink final : public BoardLink {
public:
    using ChannelFactory = link::ChannelFactory;

    using Statistics = LinkStatistics;

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

    // Several writes on the line at once when the board on `port` said at its ping how much
    // it holds, one at a time otherwise.
    std::unique_ptr<WriteWindow> openWriteWindow(int port) override;

    LinkDetails details() const override { return {lastOpenResult_, statistics_}; }
    const Statistics& statistics() const { return statistics_; }

private:
    enum class Outcome { Accepted, Refused, Garbled };
    class StreamingWindow;

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
                            std::uint16_t requestCrc, std::size_t& carried);
    Outcome judgeWriteAnswer(std::span<const std::uint8_t, wire::kWriteAnswerSize> answer, std::uint8_t control,
                             std::uint16_t requestCrc) const;
    std::size_t receive(wire::ByteChannel& channel, std::span<std::uint8_t> into, std::chrono::milliseconds firstWait);
    bool moreBytesWaiting(wire::ByteChannel& channel);
    bool waitForQuietLine(wire::ByteChannel& channel);
    std::chrono::milliseconds timer(std::size_t word) const { return std::chrono::milliseconds(timers_.words[word]); }
    std::chrono::microseconds lineTimeOf(std::size_t bytes) const;

    // A request whose answer the host waits for with nothing else left to send: the line
    // falls idle once the request is out, so the time its answer takes costs the run time.
    struct AwaitedAnswer {
        std::uint32_t handedOverAtMs;
        std::chrono::microseconds lineBusyFor; // from the hand-over until the request's last byte is out
    };

    // How many bytes of requests the board on a port said it holds unanswered.
    struct BoardWindow {
        int port;
        std::size_t bytes;
    };

    ChannelFactory channels_;
    Clock* clock_;
    std::optional<AwaitedAnswer> awaitedAnswer_;
    std::optional<BoardWindow> boardWindow_;
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

// Whether a read or write may carry `count` bytes, and reach `address`: 1 to 256 bytes, and
// addresses up to 0xFFFF (anything larger, such as the flash layer's 0xDEADBEEF for "no
// block", is refused before anything is sent).
constexpr bool isValidRequestCount(std::uint32_t count) { return count >= 1 && count <= wire::kMaxCount; }
constexpr bool isValidRequestAddress(std::uint32_t address) { return address <= 0xFFFF; }

// The ten words as BriskDllInit leaves them for a line profile.
LinkTimers defaultTimers(const LineProfile& profile);

// Whether ConfigureTimers takes these words on a line of the given profile.
bool timersAreValid(const LinkTimers& timers, const LineProfile& profile);

} // namespace fieldkit::link
