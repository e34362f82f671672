#pragma once

// The framing between the PC and the option board, shared by the host side of the link and
// the board emulator. docs/link-protocol.md describes it for people.

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace fieldkit::wire {

enum class FrameKind : std::uint8_t { Read = 1, Write = 2, Ping = 3 };

// First byte of a data answer, and what a write answer's token stands for.
inline constexpr std::uint8_t kAck = 0x06;
inline constexpr std::uint8_t kNak = 0x15;

inline constexpr std::size_t kMaxCount = 256;        // bytes of one read or write
inline constexpr std::size_t kRequestHeaderSize = 4; // control, address low, address high, count - 1
inline constexpr std::size_t kCrcSize = 2;
inline constexpr std::size_t kWriteAnswerSize = 2;
inline constexpr std::uint8_t kSequenceMask = 0x3F;

// The board drops a partly received request, and ends its discarding after a bad one,
// once the line has been silent this long.
inline constexpr std::chrono::milliseconds kBoardFrameGap{20};

// What the board answers to a ping: the text "LODESTAR", the protocol version, the board's
// bus address and the largest count it takes, least significant byte first. A board of
// protocol version 2 adds how many bytes of requests it can hold unanswered (its receive
// buffer), least significant byte first; the host then keeps that many on the line.
inline constexpr std::size_t kPingAnswerSize = 12;
inline constexpr std::size_t kWindowPingAnswerSize = 14;
inline constexpr std::size_t kPingVersionOffset = 8;
inline constexpr std::size_t kPingLargestCountOffset = 10;
inline constexpr std::size_t kPingReceiveBufferOffset = 12;
inline constexpr std::uint8_t kProtocolVersion = 1;       // one request on the line at a time
inline constexpr std::uint8_t kWindowProtocolVersion = 2; // several, up to the board's buffer

// The data bytes of a ping answer whose version byte is `version`: the version decides how
// long the rest is, so the host reads up to it first.
constexpr std::size_t pingAnswerSize(std::uint8_t version)
{
    return version == kWindowProtocolVersion ? kWindowPingAnswerSize : kPingAnswerSize;
}

// Requests a host keeps unanswered at most, whatever the board's buffer: far fewer than the
// 64 sequence numbers, so that a resend is never taken for a newer request, and the number
// of answers a board of protocol version 2 remembers for resends.
inline constexpr std::size_t kMaxRequestsInFlight = 16;
// Bit 15 of the largest-count word: set by the emulator alone (a board's counts stop at
// 256), so that the host knows an emulated board without asking anything a board would not
// know.
inline constexpr std::uint16_t kPingEmulatedBoardFlag = 0x8000;

bool pingAnswerFromEmulator(std::span<const std::uint8_t, kPingAnswerSize> answer);

std::uint8_t controlByte(FrameKind kind, std::uint8_t sequence);

struct Request {
    std::uint8_t control = 0;
    FrameKind kind = FrameKind::Read;
    std::uint8_t sequence = 0;
    std::uint16_t address = 0;
    std::size_t count = 0;             // 1..256: bytes to read, or bytes in the payload
    std::vector<std::uint8_t> payload; // writes and pings only
    std::uint16_t crc = 0;             // the frame's own CRC, which answers are bound to
};

// A whole request frame. Reads carry `count` and no payload; writes and pings carry their
// payload and `count` is its size. `count` must be 1..256.
std::vector<std::uint8_t> encodeRequest(FrameKind kind, std::uint8_t sequence, std::uint16_t address,
                                        std::size_t count, std::span<const std::uint8_t> payload);

// The CRC of a request frame as it will travel, for the host to predict its answer.
std::uint16_t requestCrc(std::span<const std::uint8_t> frame);

// The answer to a write is a two-byte token (least significant byte first) that only the
// request it answers can produce: the CRC of the verdict, the request's control byte and
// the request's CRC.
std::uint16_t writeAnswerToken(std::uint8_t verdict, std::uint8_t control, std::uint16_t requestCrc);
std::vector<std::uint8_t> encodeWriteAnswer(std::uint8_t verdict, const Request& request);

// The answer to a read or a ping: the verdict byte, on kAck the `count` data bytes, then the
// CRC of (control, request CRC, verdict, data), least significant byte first.
std::uint16_t dataAnswerCrc(std::uint8_t control, std::uint16_t requestCrc, std::uint8_t verdict,
                            std::span<const std::uint8_t> data);
std::vector<std::uint8_t> encodeDataAnswer(std::uint8_t verdict, const Request& request,
                                           std::span<const std::uint8_t> data);

// The ping's payload: the radio model text and the model number, each NUL-terminated, then
// the largest read the caller will make and the board's bus address.
struct PingPayload {
    std::string radioModel;
    std::string modelNumber;
    std::uint8_t largestRead = 0;
    std::uint8_t boardAddress = 0;
};
std::vector<std::uint8_t> encodePingPayload(const PingPayload& ping);
std::optional<PingPayload> decodePingPayload(std::span<const std::uint8_t> payload);

// The board's side: takes the bytes of the line one at a time and yields each request that
// arrives whole with a good CRC. After a bad frame it ignores everything until the line has
// been silent for kBoardFrameGap, which the host guarantees before every retry.
class RequestDecoder {
public:
    std::optional<Request> feed(std::uint8_t byte);

    // The line has been silent for at least kBoardFrameGap.
    void gap();

    std::size_t badFrames() const { return badFrames_; }
    // Bytes of the frame under way, which the board must hold until it is whole.
    std::size_t heldBytes() const { return frame_.size(); }
    // How many more bytes decide something: end the header or the frame. Any number while
    // the decoder throws bytes away.
    std::size_t bytesUntilDecided() const;

private:
    enum class State { Idle, Header, Body, Discarding };

    void reject();

    State state_ = State::Idle;
    std::vector<std::uint8_t> frame_;
    std::size_t expected_ = 0;
    std::size_t badFrames_ = 0;
};

} // namespace fieldkit::wire
