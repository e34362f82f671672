#include "link/board_connection.h"

#include "link/timer_words.h"
#include "wire/protocol.h"

#include <algorithm>
#include <vector>

namespace fieldkit::link {
namespace {

// The timing every board connection asks of the link; the other timer words go back as the
// link handed them out.
constexpr std::chrono::milliseconds kConnectionInterByteGap{50};
constexpr std::chrono::milliseconds kConnectionAnswerTimeout{200};
constexpr std::uint32_t kConnectionTries = 7;

// Identity block layout: a variant flag, then the band-edge frequency most significant byte first.
constexpr std::size_t kVariantFlagOffset = 2;
constexpr std::size_t kBandEdgeOffset = 3;

constexpr std::uint8_t kFirstPrintable = 0x20;
constexpr std::uint8_t kLastPrintable = 0x7E;

struct BandEdge {
    std::uint32_t frequency;
    int band;
};
constexpr BandEdge kBandEdges[] = {
    {403000000, 0}, {450000000, 0}, {217000000, 1}, {746000000, 2},
    {762000000, 2}, {776000000, 2}, {792000000, 2}, {136000000, 3},
};
constexpr int kUnknownBand = 0;
constexpr int kVariantsPerBand = 2; // the variant flag splits each band's default configuration in two

} // namespace

int bandFromEdgeFrequency(std::uint32_t bandEdgeFrequency)
{
    for (const BandEdge& edge : kBandEdges)
        if (edge.frequency == bandEdgeFrequency)
            return edge.band;
    return kUnknownBand;
}

std::string versionTextFromAnswer(std::span<const std::uint8_t> answer, bool trimTrailingSpaces)
{
    std::string text;
    for (std::uint8_t byte : answer.first(std::min(answer.size(), kMaxVersionLength))) {
        if (byte < kFirstPrintable || byte > kLastPrintable)
            break;
        text.push_back(static_cast<char>(byte));
    }
    if (trimTrailingSpaces)
        text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::uint32_t esnFromBytes(std::span<const std::uint8_t, 4> bytes)
{
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

std::string esnTextOf(std::uint32_t esn)
{
    return std::to_string(static_cast<std::int32_t>(esn));
}

BoardConnection::BoardConnection(BoardLink& link, Clock& clock) : link_(link), clock_(clock) {}

BoardConnection::~BoardConnection() { close(); }

std::optional<ConnectionFailure> BoardConnection::open(int port, bool pauses, UpgradeNotices* statusWindow)
{
    close();
    identity_ = BoardIdentity{};
    port_ = port;
    pauses_ = pauses;

    if (link_.BriskDllInit(kRadioModel, kModelNumber, kLargestRead, kBoardAddress) != 0)
        return ConnectionFailure{FailureKind::LinkInit, kInitFailed};
    LinkTimers timers;
    if (link_.ReadTimers(timers) != 0)
        return ConnectionFailure{FailureKind::ReadTimers, kReadTimersFailed};
    timers.words[TIMER_INTER_BYTE_GAP_MS] = static_cast<std::uint32_t>(kConnectionInterByteGap.count());
    timers.words[TIMER_ANSWER_TIMEOUT_MS] = static_cast<std::uint32_t>(kConnectionAnswerTimeout.count());
    timers.words[TIMER_TRIES] = kConnectionTries;
    if (link_.ConfigureTimers(timers) != 0)
        return ConnectionFailure{FailureKind::ConfigureTimers, kConfigureTimersFailed};

    if (statusWindow != nullptr && statusWindow->hasWindow())
        statusWindow->statusText(UpgradeStage::Connecting, kVerifyingBoardStatus);

    // A probe that the port exists; the ping opens the port again on its own.
    if (link_.OpenPort(port) != 0)
        return ConnectionFailure{FailureKind::OpenPort, kOpenPortFailed};
    link_.ClosePort();

    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    const bool answered = link_.Ping_Opt_Board(port, reply.data()) == 0;
    if (pauses_)
        clock_.sleep(kBoardReadPause);
    if (!answered)
        return ConnectionFailure{FailureKind::Ping, kPingFailed};
    identity_.emulatedBoard = wire::pingAnswerFromEmulator(reply);

    if (link_.OpenPort(port) != 0)
        return ConnectionFailure{FailureKind::OpenPort, kOpenPortFailed};
    identity_.portOpen = true;
    return std::nullopt;
}

void BoardConnection::readIdentityBlock()
{
    std::array<std::uint8_t, kIdentityBlockSize> block{};
    if (read(ADDR_IDENTITY_BLOCK, block)) {
        identity_.variantBit = block[kVariantFlagOffset] != 0 ? 1 : 0;
        identity_.bandEdgeFrequency = static_cast<std::uint32_t>(block[kBandEdgeOffset]) << 24 |
                                      static_cast<std::uint32_t>(block[kBandEdgeOffset + 1]) << 16 |
                                      static_cast<std::uint32_t>(block[kBandEdgeOffset + 2]) << 8 |
                                      static_cast<std::uint32_t>(block[kBandEdgeOffset + 3]);
        identity_.band = bandFromEdgeFrequency(identity_.bandEdgeFrequency);
    } else {
        identity_.band = 0;
        identity_.variantBit = 0;
        identity_.boardChecksEnabled = false;
    }
    identity_.configVariant = identity_.band * kVariantsPerBand + identity_.variantBit;
}

bool BoardConnection::readFirmwareVersion(bool trimTrailingSpaces)
{
    std::array<std::uint8_t, kVersionSize> answer{};
    const bool answered = read(ADDR_FIRMWARE_VERSION, answer) ||
                          read(ADDR_FIRMWARE_VERSION, std::span(answer).first(kVersionRetrySize));
    identity_.boardVersionText = answered ? versionTextFromAnswer(answer, trimTrailingSpaces) : std::string();
    return answered;
}

bool BoardConnection::readEsn()
{
    std::array<std::uint8_t, kEsnSize> bytes{};
    if (!read(ADDR_ESN, bytes))
        return false;
    identity_.esn = esnFromBytes(bytes);
    identity_.esnText = esnTextOf(identity_.esn);
    return true;
}

std::optional<ConnectionFailure> BoardConnection::readBoardInformation(int port)
{
    if (auto failure = open(port, false, nullptr))
        return failure;
    if (!readFirmwareVersion(false))
        return ConnectionFailure{FailureKind::ReadVersion, kReadVersionFailed};
    if (!readEsn())
        return ConnectionFailure{FailureKind::ReadEsn, kReadEsnFailed};
    return std::nullopt;
}

bool BoardConnection::read(std::uint16_t address, std::span<std::uint8_t> into)
{
    const bool ok = link_.ReadDataOnly(port_, into.data(), address, static_cast<std::uint32_t>(into.size())) == 0;
    if (pauses_)
        clock_.sleep(kBoardReadPause);
    return ok;
}

void BoardConnection::close()
{
    if (!identity_.portOpen)
        return;
    identity_.portOpen = false;
    link_.ClosePort();
}

} // namespace fieldkit::link
