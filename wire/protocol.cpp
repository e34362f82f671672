#include "wire/protocol.h"

#include "wire/crc16.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <stdexcept>

namespace fieldkit::wire {
namespace {

void appendLe16(std::vector<std::uint8_t>& out, std::uint16_t value)
{
    out.push_back(static_cast<std::uint8_t>(value & 0xFF));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
}

bool isKnownKind(std::uint8_t control)
{
    const unsigned kind = control >> 6;
    return kind >= 1 && kind <= 3;
}

std::size_t payloadSize(FrameKind kind, std::size_t count)
{
    return kind == FrameKind::Read ? 0 : count;
}

} // namespace

std::uint8_t controlByte(FrameKind kind, std::uint8_t sequence)
{
    return static_cast<std::uint8_t>((static_cast<unsigned>(kind) << 6) | (sequence & kSequenceMask));
}

std::vector<std::uint8_t> encodeRequest(FrameKind kind, std::uint8_t sequence, std::uint16_t address,
                                        std::size_t count, std::span<const std::uint8_t> payload)
{
    if (count < 1 || count > kMaxCount || payload.size() != payloadSize(kind, count))
        throw std::invalid_argument("request count out of range or payload size mismatch");
    std::vector<std::uint8_t> frame;
    frame.reserve(kRequestHeaderSize + payload.size() + kCrcSize);
    frame.push_back(controlByte(kind, sequence));
    appendLe16(frame, address);
    frame.push_back(static_cast<std::uint8_t>(count - 1));
    frame.insert(frame.end(), payload.begin(), payload.end());
    appendLe16(frame, crc16(frame));
    return frame;
}

std::uint16_t requestCrc(std::span<const std::uint8_t> frame)
{
    const std::size_t n = frame.size();
    return static_cast<std::uint16_t>(frame[n - 2] | (frame[n - 1] << 8));
}

std::uint16_t writeAnswerToken(std::uint8_t verdict, std::uint8_t control, std::uint16_t requestCrcValue)
{
    const std::array<std::uint8_t, 4> bound{verdict, control, static_cast<std::uint8_t>(requestCrcValue & 0xFF),
                                            static_cast<std::uint8_t>(requestCrcValue >> 8)};
    return crc16(bound);
}

std::vector<std::uint8_t> encodeWriteAnswer(std::uint8_t verdict, const Request& request)
{
    std::vector<std::uint8_t> answer;
    appendLe16(answer, writeAnswerToken(verdict, request.control, request.crc));
    return answer;
}

std::uint16_t dataAnswerCrc(std::uint8_t control, std::uint16_t requestCrcValue, std::uint8_t verdict,
                            std::span<const std::uint8_t> data)
{
    const std::array<std::uint8_t, 4> bound{control, static_cast<std::uint8_t>(requestCrcValue & 0xFF),
                                            static_cast<std::uint8_t>(requestCrcValue >> 8), verdict};
    return crc16(data, crc16(bound));
}

std::vector<std::uint8_t> encodeDataAnswer(std::uint8_t verdict, const Request& request,
                                           std::span<const std::uint8_t> data)
{
    std::vector<std::uint8_t> answer;
    answer.reserve(1 + data.size() + kCrcSize);
    answer.push_back(verdict);
    if (verdict == kAck)
        answer.insert(answer.end(), data.begin(), data.end());
    const auto carried = verdict == kAck ? data : std::span<const std::uint8_t>{};
    appendLe16(answer, dataAnswerCrc(request.control, request.crc, verdict, carried));
    return answer;
}

bool pingAnswerFromEmulator(std::span<const std::uint8_t, kPingAnswerSize> answer)
{
    return (answer[kPingLargestCountOffset + 1] & (kPingEmulatedBoardFlag >> 8)) != 0;
}

std::vector<std::uint8_t> encodePingPayload(const PingPayload& ping)
{
    std::vector<std::uint8_t> payload(ping.radioModel.begin(), ping.radioModel.end());
    payload.push_back(0);
    payload.insert(payload.end(), ping.modelNumber.begin(), ping.modelNumber.end());
    payload.push_back(0);
    payload.push_back(ping.largestRead);
    payload.push_back(ping.boardAddress);
    return payload;
}

std::optional<PingPayload> decodePingPayload(std::span<const std::uint8_t> payload)
{
    const auto firstNul = std::find(payload.begin(), payload.end(), std::uint8_t{0});
    if (firstNul == payload.end())
        return std::nullopt;
    const auto secondNul = std::find(firstNul + 1, payload.end(), std::uint8_t{0});
    if (secondNul == payload.end() || payload.end() - secondNul != 3)
        return std::nullopt;
    PingPayload ping;
    ping.radioModel.assign(payload.begin(), firstNul);
    ping.modelNumber.assign(firstNul + 1, secondNul);
    ping.largestRead = *(secondNul + 1);
    ping.boardAddress = *(secondNul + 2);
    return ping;
}

std::optional<Request> RequestDecoder::feed(std::uint8_t byte)
{
    switch (state_) {
    case State::Discarding:
        return std::nullopt;
    case State::Idle:
        if (!isKnownKind(byte)) {
            reject();
            return std::nullopt;
        }
        frame_.assign(1, byte);
        expected_ = kRequestHeaderSize;
        state_ = State::Header;
        return std::nullopt;
    case State::Header:
        frame_.push_back(byte);
        if (frame_.size() == kRequestHeaderSize) {
            const auto kind = static_cast<FrameKind>(frame_[0] >> 6);
            expected_ = kRequestHeaderSize + payloadSize(kind, std::size_t{frame_[3]} + 1) + kCrcSize;
            state_ = State::Body;
        }
        return std::nullopt;
    case State::Body:
        frame_.push_back(byte);
        if (frame_.size() < expected_)
            return std::nullopt;
        break;
    }

    const auto body = std::span<const std::uint8_t>(frame_).first(frame_.size() - kCrcSize);
    if (crc16(body) != requestCrc(frame_)) {
        reject();
        return std::nullopt;
    }
    Request request;
    request.control = frame_[0];
    request.kind = static_cast<FrameKind>(frame_[0] >> 6);
    request.sequence = frame_[0] & kSequenceMask;
    request.address = static_cast<std::uint16_t>(frame_[1] | (frame_[2] << 8));
    request.count = std::size_t{frame_[3]} + 1;
    request.payload.assign(frame_.begin() + kRequestHeaderSize, frame_.end() - kCrcSize);
    request.crc = requestCrc(frame_);
    frame_.clear();
    state_ = State::Idle;
    return request;
}

std::size_t RequestDecoder::bytesUntilDecided() const
{
    switch (state_) {
    case State::Idle:
        return kRequestHeaderSize;
    case State::Header:
    case State::Body:
        return expected_ - frame_.size();
    case State::Discarding:
        break;
    }
    return SIZE_MAX;
}

void RequestDecoder::gap()
{
    if (state_ == State::Header || state_ == State::Body)
        ++badFrames_;
    frame_.clear();
    state_ = State::Idle;
}

void RequestDecoder::reject()
{
    ++badFrames_;
    frame_.clear();
    state_ = State::Discarding;
}

} // namespace fieldkit::wire
