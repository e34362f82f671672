#include "link/serial_board_link.h"

#include "core/com_port.h"

#include <algorithm>
#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace fieldkit::link {
namespace {

// A ping carries no board address of its own: the board's bus address travels in its payload.
constexpr std::uint16_t kPingFrameAddress = 0;
constexpr std::string_view kPingSignature = "LODESTAR";
constexpr std::size_t kPingBoardAddressOffset = 9;

constexpr int kLargestByteArgument = 255;
constexpr std::size_t kQuietLineSink = 512; // more than a quiet-time's worth of bytes at 115200 baud

std::uint16_t littleEndian16(std::uint8_t low, std::uint8_t high)
{
    return static_cast<std::uint16_t>(low | (high << 8));
}

bool inRange(std::uint32_t value, std::uint32_t lowest, std::uint32_t highest)
{
    return value >= lowest && value <= highest;
}


} // namespace

LinkTimers defaultTimers(const LineProfile& profile)
{
    LinkTimers timers;
    timers.words[TIMER_INTER_BYTE_GAP_MS] = static_cast<std::uint32_t>(kDefaultInterByteGap.count());
    timers.words[TIMER_ANSWER_TIMEOUT_MS] = static_cast<std::uint32_t>(kDefaultAnswerTimeout.count());
    timers.words[TIMER_BAUD_RATE] = profile.baudRate;
    timers.words[TIMER_PING_TIMEOUT_MS] = static_cast<std::uint32_t>(kDefaultPingAnswerTimeout.count());
    timers.words[TIMER_QUIET_TIME_MS] = static_cast<std::uint32_t>(kDefaultQuietTime.count());
    timers.words[TIMER_QUIET_LIMIT_MS] = static_cast<std::uint32_t>(kDefaultQuietLimit.count());
    timers.words[TIMER_TRIES] = kDefaultTries;
    return timers;
}

bool timersAreValid(const LinkTimers& timers, const LineProfile& profile)
{
    const auto& w = timers.words;
    const auto longest = static_cast<std::uint32_t>(kLongestTimerSetting.count());
    const auto boardGap = static_cast<std::uint32_t>(wire::kBoardFrameGap.count());
    const bool reservedClear =
        std::all_of(std::begin(kReservedTimerWords), std::end(kReservedTimerWords), [&](std::size_t word) {
            return w[word] == 0;
        });
    // The quiet time must outlast the board's frame gap, or a resend could land while the
    // board is still throwing away the rest of a garbled frame.
    return reservedClear && inRange(w[TIMER_INTER_BYTE_GAP_MS], 1, longest) &&
           inRange(w[TIMER_ANSWER_TIMEOUT_MS], 1, longest) && w[TIMER_BAUD_RATE] == profile.baudRate &&
           inRange(w[TIMER_PING_TIMEOUT_MS], 1, longest) && inRange(w[TIMER_QUIET_TIME_MS], boardGap, longest) &&
           inRange(w[TIMER_QUIET_LIMIT_MS], w[TIMER_QUIET_TIME_MS], longest) &&
           inRange(w[TIMER_TRIES], 1, kMostTries);
}

SerialBoardLink::SerialBoardLink(ChannelFactory channels, Clock* clock)
    : channels_(std::move(channels)), clock_(clock)
{
}

SerialBoardLink::~SerialBoardLink() { ClosePort(); }

int SerialBoardLink::BriskDllInit(const char* radioModel, const char* modelNumber, int largestRead, int boardAddress)
{
    initialised_ = false;
    if (radioModel == nullptr || modelNumber == nullptr)
        return linkResult(LinkError::BadArgument);
    const auto profile = lineProfileFor(radioModel);
    const std::string_view number(modelNumber);
    if (!profile || number.empty() || number.size() > kMaxModelNumberLength || largestRead < 1 ||
        largestRead > kLargestByteArgument || boardAddress < 1 || boardAddress > kLargestByteArgument)
        return linkResult(LinkError::BadArgument);
    profile_ = *profile;
    boardWindow_.reset();
    ping_ = {std::string(radioModel), std::string(number), static_cast<std::uint8_t>(largestRead),
             static_cast<std::uint8_t>(boardAddress)};
    timers_ = defaultTimers(profile_);
    initialised_ = true;
    return LINK_OK;
}

int SerialBoardLink::ReadTimers(LinkTimers& timers)
{
    if (!initialised_)
        return linkResult(LinkError::NotInitialised);
    timers = timers_;
    return LINK_OK;
}

int SerialBoardLink::ConfigureTimers(const LinkTimers& timers)
{
    if (!initialised_)
        return linkResult(LinkError::NotInitialised);
    if (!timersAreValid(timers, profile_))
        return linkResult(LinkError::BadArgument);
    timers_ = timers;
    return LINK_OK;
}

int SerialBoardLink::OpenPort(int port)
{
    if (!initialised_)
        return linkResult(LinkError::NotInitialised);
    if (!isComPort(port))
        return linkResult(LinkError::BadArgument);
    if (channel_) {
        lastOpenResult_ = {wire::OpenFailure::Busy,
                           comPortName(openPort_) + " is already open on this link"};
        return linkResult(LinkError::PortAlreadyOpen);
    }
    channel_ = openChannel(port);
    if (!channel_)
        return linkResult(LinkError::OpenFailed);
    openPort_ = port;
    return LINK_OK;
}

void SerialBoardLink::ClosePort()
{
    if (!channel_)
        return;
    channel_->close();
    channel_.reset();
    openPort_ = 0;
}

int SerialBoardLink::Ping_Opt_Board(int port, std::uint8_t* reply)
{
    if (!initialised_)
        return linkResult(LinkError::NotInitialised);
    if (reply == nullptr || !isComPort(port))
        return linkResult(LinkError::BadArgument);
    if (channel_)
        return linkResult(LinkError::PortAlreadyOpen);
    auto channel = openChannel(port);
    if (!channel)
        return linkResult(LinkError::OpenFailed);

    boardWindow_.reset();
    const auto payload = wire::encodePingPayload(ping_);
    std::array<std::uint8_t, wire::kWindowPingAnswerSize> answer{};
    const int result = transact(*channel, {wire::FrameKind::Ping, kPingFrameAddress, payload.size(), payload, answer,
                                           timer(TIMER_PING_TIMEOUT_MS)});
    channel->close();
    if (result != LINK_OK)
        return result;

    const std::string_view signature(reinterpret_cast<const char*>(answer.data()), kPingSignature.size());
    const std::uint8_t version = answer[wire::kPingVersionOffset];
    const std::uint16_t largestCount =
        littleEndian16(answer[wire::kPingLargestCountOffset], answer[wire::kPingLargestCountOffset + 1]) &
        static_cast<std::uint16_t>(~wire::kPingEmulatedBoardFlag);
    if (signature != kPingSignature ||
        (version != wire::kProtocolVersion && version != wire::kWindowProtocolVersion) ||
        answer[kPingBoardAddressOffset] != ping_.boardAddress || largestCount < ping_.largestRead)
        return linkResult(LinkError::NotLodestar);
    if (version == wire::kWindowProtocolVersion)
        boardWindow_ = BoardWindow{port, littleEndian16(answer[wire::kPingReceiveBufferOffset],
                                                        answer[wire::kPingReceiveBufferOffset + 1])};
    // The reply keeps the answer's first part, which every version shares.
    std::copy_n(answer.begin(), wire::kPingAnswerSize, reply);
    return LINK_OK;
}

int SerialBoardLink::ReadDataOnly(int port, std::uint8_t* destination, std::uint32_t address, std::uint32_t count)
{
    if (!initialised_)
        return linkResult(LinkError::NotInitialised);
    if (destination == nullptr || !isValidRequestCount(count) || !isValidRequestAddress(address))
        return linkResult(LinkError::BadArgument);
    if (!isOpenOn(port))
        return linkResult(LinkError::PortNotOpen);
    return transact(*channel_, {wire::FrameKind::Read, static_cast<std::uint16_t>(address), count, {},
                                std::span(destination, count), timer(TIMER_ANSWER_TIMEOUT_MS)});
}

int SerialBoardLink::WriteDataOnly(int port, const std::uint8_t* source, std::uint32_t address, std::uint32_t count,
                                   int flags)
{
    if (!initialised_)
        return linkResult(LinkError::NotInitialised);
    if (source == nullptr || !isValidRequestCount(count) || !isValidRequestAddress(address) || flags != 0)
        return linkResult(LinkError::BadArgument);
    if (!isOpenOn(port))
        return linkResult(LinkError::PortNotOpen);
    return transact(*channel_, {wire::FrameKind::Write, static_cast<std::uint16_t>(address), count,
                                std::span(source, count), {}, timer(TIMER_ANSWER_TIMEOUT_MS)});
}

std::unique_ptr<wire::ByteChannel> SerialBoardLink::openChannel(int port)
{
    auto channel = channels_ ? channels_(port) : nullptr;
    if (!channel) {
        lastOpenResult_ = {wire::OpenFailure::NotFound, "no device is known for " + comPortName(port)};
        return nullptr;
    }
    lastOpenResult_ = channel->open();
    if (!lastOpenResult_.ok())
        return nullptr;
    return channel;
}

// One request: sent, answered, and resent as the very same frame while the answer is lost or
// garbled. The board takes a frame equal to the one it has just executed as a repeat and only
// answers it again, so a write the board carried out but whose answer was lost is not
// executed twice.
int SerialBoardLink::transact(wire::ByteChannel& channel, const Exchange& exchange)
{
    const auto frame =
        wire::encodeRequest(exchange.kind, nextSequence_, exchange.address, exchange.count, exchange.payload);
    nextSequence_ = static_cast<std::uint8_t>((nextSequence_ + 1) & wire::kSequenceMask);
    ++statistics_.requests;
    const std::uint8_t control = frame.front();
    const std::uint16_t crc = wire::requestCrc(frame);

    for (std::uint32_t attempt = 0; attempt < timers_.words[TIMER_TRIES]; ++attempt) {
        if (attempt > 0)
            ++statistics_.retries;
        // Whatever is waiting now answers nothing we are about to ask.
        channel.discardInput();
        // Timed from the hand-over: whether the channel returns at once or only once the frame
        // is out, its last byte leaves the port one line time after that.
        if (clock_ != nullptr)
            awaitedAnswer_ = AwaitedAnswer{clock_->tickMs(), lineTimeOf(frame.size())};
        if (!channel.write(frame))
            return linkResult(LinkError::LineLost);
        statistics_.wireBytesSent += frame.size();

        const bool isWrite = exchange.kind == wire::FrameKind::Write;
        std::size_t carried = exchange.count;
        const Outcome outcome = isWrite ? awaitWriteAnswer(channel, exchange, control, crc)
                                        : awaitDataAnswer(channel, exchange, control, crc, carried);
        awaitedAnswer_.reset();
        if (outcome == Outcome::Accepted) {
            statistics_.payloadBytes += carried;
            return LINK_OK;
        }
        if (outcome == Outcome::Refused)
            return linkResult(LinkError::Refused);
        // Let the rest of a garbled answer pass and the board's receiver reset before sending
        // again, and before the caller's next request when this was the last try.
        if (!waitForQuietLine(channel))
            return linkResult(LinkError::NoAnswer);
    }
    return linkResult(LinkError::NoAnswer);
}

SerialBoardLink::Outcome SerialBoardLink::awaitWriteAnswer(wire::ByteChannel& channel, const Exchange& exchange,
                                                            std::uint8_t control, std::uint16_t requestCrc)
{
    std::array<std::uint8_t, wire::kWriteAnswerSize> answer{};
    if (receive(channel, answer, exchange.firstByteTimeout) != answer.size())
        return Outcome::Garbled;
    const Outcome outcome = judgeWriteAnswer(answer, control, requestCrc);
    return outcome == Outcome::Accepted && moreBytesWaiting(channel) ? Outcome::Garbled : outcome;
}

SerialBoardLink::Outcome SerialBoardLink::judgeWriteAnswer(std::span<const std::uint8_t, wire::kWriteAnswerSize> answer,
                                                            std::uint8_t control, std::uint16_t requestCrc) const
{
    const std::uint16_t token = littleEndian16(answer[0], answer[1]);
    if (token == wire::writeAnswerToken(wire::kNak, control, requestCrc))
        return Outcome::Refused;
    if (token != wire::writeAnswerToken(wire::kAck, control, requestCrc))
        return Outcome::Garbled;
    return Outcome::Accepted;
}

// A ping answer's length follows from its version byte, so its data is read up to that byte
// first. `carried` is set to the data bytes of an accepted answer.
SerialBoardLink::Outcome SerialBoardLink::awaitDataAnswer(wire::ByteChannel& channel, const Exchange& exchange,
                                                           std::uint8_t control, std::uint16_t requestCrc,
                                                           std::size_t& carried)
{
    const bool ping = exchange.kind == wire::FrameKind::Ping;
    std::vector<std::uint8_t> answer(1 + exchange.answerData.size() + wire::kCrcSize);
    if (receive(channel, std::span(answer).first(1), exchange.firstByteTimeout) != 1)
        return Outcome::Garbled;

    const std::uint8_t verdict = answer[0];
    if (verdict != wire::kAck && verdict != wire::kNak)
        return Outcome::Garbled;
    std::size_t head = 0;
    std::size_t dataSize = 0; // a refusal carries no data
    if (verdict == wire::kAck) {
        head = ping ? wire::kPingVersionOffset + 1 : exchange.answerData.size();
        if (receive(channel, std::span(answer).subspan(1, head), timer(TIMER_INTER_BYTE_GAP_MS)) != head)
            return Outcome::Garbled;
        dataSize = ping ? wire::pingAnswerSize(answer[1 + wire::kPingVersionOffset]) : head;
    }
    const auto rest = std::span(answer).subspan(1 + head, dataSize - head + wire::kCrcSize);
    if (receive(channel, rest, timer(TIMER_INTER_BYTE_GAP_MS)) != rest.size())
        return Outcome::Garbled;

    const auto data = std::span(answer).subspan(1, dataSize);
    if (littleEndian16(answer[1 + dataSize], answer[2 + dataSize]) !=
        wire::dataAnswerCrc(control, requestCrc, verdict, data))
        return Outcome::Garbled;
    if (verdict == wire::kNak)
        return Outcome::Refused;
    if (moreBytesWaiting(channel))
        return Outcome::Garbled;
    std::copy(data.begin(), data.end(), exchange.answerData.begin());
    carried = dataSize;
    return Outcome::Accepted;
}

// The first byte may take up to `firstWait`; after it, each further stretch of bytes must
// begin within the inter-byte gap.
std::size_t SerialBoardLink::receive(wire::ByteChannel& channel, std::span<std::uint8_t> into,
                                     std::chrono::milliseconds firstWait)
{
    std::size_t received = 0;
    auto wait = firstWait;
    while (received < into.size()) {
        const std::size_t arrived = channel.read(into.subspan(received), wait);
        statistics_.wireBytesReceived += arrived;
        if (arrived == 0)
            break;
        if (awaitedAnswer_) {
            const std::uint32_t waitedMs = clock_->tickMs() - awaitedAnswer_->handedOverAtMs;
            ++statistics_.answersTimed;
            statistics_.answerWait += std::chrono::milliseconds(waitedMs);
            statistics_.requestLineTime += awaitedAnswer_->lineBusyFor;
            awaitedAnswer_.reset();
        }
        received += arrived;
        wait = timer(TIMER_INTER_BYTE_GAP_MS);
    }
    return received;
}

std::chrono::microseconds SerialBoardLink::lineTimeOf(std::size_t bytes) const
{
    const std::uint64_t bits = static_cast<std::uint64_t>(bytes) * kLineBitsPerByte;
    return std::chrono::microseconds(bits * 1'000'000 / timers_.words[TIMER_BAUD_RATE]);
}

// Bytes right behind a complete answer mean something else is talking on the line; the
// answer is not trusted then.
bool SerialBoardLink::moreBytesWaiting(wire::ByteChannel& channel)
{
    std::uint8_t extra = 0;
    const std::size_t arrived = channel.read(std::span(&extra, 1), std::chrono::milliseconds::zero());
    statistics_.wireBytesReceived += arrived;
    return arrived != 0;
}

// Reads and drops bytes until a whole quiet time passes without one. Each read is charged
// its full quiet time, so a line that never falls silent gives up after the quiet limit.
bool SerialBoardLink::waitForQuietLine(wire::ByteChannel& channel)
{
    std::array<std::uint8_t, kQuietLineSink> sink{};
    const auto quietTime = timer(TIMER_QUIET_TIME_MS);
    for (auto spent = std::chrono::milliseconds::zero(); spent < timer(TIMER_QUIET_LIMIT_MS); spent += quietTime) {
        const std::size_t arrived = channel.read(sink, quietTime);
        statistics_.wireBytesReceived += arrived;
        if (arrived == 0)
            return true;
    }
    return false;
}

} // namespace fieldkit::link
