#include "link/board_connection.h"
#include "link/serial_board_link.h"
#include "tests/link/frame_board.h"

#include <gtest/gtest.h>

#include <numeric>
#include <set>
#include <string>
#include <tuple>

namespace fieldkit::link {
namespace {

using std::chrono::milliseconds;

constexpr int kPort = 2;
constexpr std::uint32_t kConnectionTries = 7;
constexpr milliseconds kConnectionAnswerTimeout{200};

std::vector<std::uint8_t> pattern(std::size_t size, std::uint8_t seed)
{
    std::vector<std::uint8_t> bytes(size);
    std::iota(bytes.begin(), bytes.end(), seed);
    return bytes;
}

std::string kindName(wire::FrameKind kind)
{
    switch (kind) {
    case wire::FrameKind::Read: return "Read";
    case wire::FrameKind::Write: return "Write";
    case wire::FrameKind::Ping: return "Ping";
    }
    return "?";
}

class SerialBoardLinkTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(link.BriskDllInit(kRadioModel, kModelNumber, kLargestRead, kBoardAddress), 0);
        // The timing every board connection asks for.
        LinkTimers timers;
        ASSERT_EQ(link.ReadTimers(timers), 0);
        timers.words[TIMER_INTER_BYTE_GAP_MS] = 50;
        timers.words[TIMER_ANSWER_TIMEOUT_MS] = static_cast<std::uint32_t>(kConnectionAnswerTimeout.count());
        timers.words[TIMER_TRIES] = kConnectionTries;
        ASSERT_EQ(link.ConfigureTimers(timers), 0);
    }

    void fillMemory(std::uint16_t address, const std::vector<std::uint8_t>& bytes)
    {
        std::copy(bytes.begin(), bytes.end(), board.memory.begin() + address);
    }

    FrameBoard board;
    std::vector<int> portsAsked;
    testing::FakeClock clock;
    SerialBoardLink link{memoryLines(board, &portsAsked), &clock};
};

struct InitCase {
    const char* radioModel;
    const char* modelNumber;
    int largestRead;
    int boardAddress;
    bool accepted;
};

void PrintTo(const InitCase& c, std::ostream* os)
{
    *os << (c.radioModel ? c.radioModel : "null") << " " << (c.modelNumber ? c.modelNumber : "null") << " "
        << c.largestRead << " " << c.boardAddress;
}

class SerialBoardLinkInit : public ::testing::TestWithParam<InitCase> {};

TEST_P(SerialBoardLinkInit, AcceptsOnlyAKnownRadioAndSaneArguments)
{
    const InitCase& c = GetParam();
    FrameBoard board;
    SerialBoardLink link(memoryLines(board));
    EXPECT_EQ(link.BriskDllInit(c.radioModel, c.modelNumber, c.largestRead, c.boardAddress) == 0, c.accepted);
    LinkTimers timers;
    EXPECT_EQ(link.ReadTimers(timers) == 0, c.accepted);
}

const std::string kLongestModelNumber(kMaxModelNumberLength, 'Z');
const std::string kTooLongModelNumber(kMaxModelNumberLength + 1, 'Z');

INSTANTIATE_TEST_SUITE_P(
    Arguments, SerialBoardLinkInit,
    ::testing::Values(InitCase{"QM7731", "ZZQ83LKW4PXT0B", 52, 52, true}, InitCase{"QM7731", "Z", 1, 255, true},
                      InitCase{"QM7731", kLongestModelNumber.c_str(), 52, 52, true},
                      InitCase{"QM7731", kTooLongModelNumber.c_str(), 52, 52, false},
                      InitCase{"QM7731", "", 52, 52, false}, InitCase{"qm7731", "ZZQ83LKW4PXT0B", 52, 52, false},
                      InitCase{nullptr, "ZZQ83LKW4PXT0B", 52, 52, false}, InitCase{"QM7731", nullptr, 52, 52, false},
                      InitCase{"QM7731", "ZZQ83LKW4PXT0B", 0, 52, false},
                      InitCase{"QM7731", "ZZQ83LKW4PXT0B", 52, 256, false}));

TEST(SerialBoardLinkLifecycle, EveryCallBeforeASuccessfulInitFailsAndOpensNothing)
{
    FrameBoard board;
    SerialBoardLink link(memoryLines(board));
    const auto check = [&] {
        LinkTimers timers = defaultTimers(*lineProfileFor(kRadioModel));
        std::array<std::uint8_t, 256> buffer{};
        EXPECT_NE(link.ReadTimers(timers), 0);
        EXPECT_NE(link.ConfigureTimers(timers), 0);
        EXPECT_NE(link.OpenPort(1), 0);
        EXPECT_NE(link.Ping_Opt_Board(1, buffer.data()), 0);
        EXPECT_NE(link.ReadDataOnly(1, buffer.data(), 0x0500, 4), 0);
        EXPECT_NE(link.WriteDataOnly(1, buffer.data(), 0x1201, 1, 0), 0);
        link.ClosePort();
        EXPECT_EQ(board.opens, 0);
    };
    check();
    // A failed init leaves the link as unready as none at all.
    ASSERT_EQ(link.BriskDllInit(kRadioModel, kModelNumber, kLargestRead, kBoardAddress), 0);
    ASSERT_NE(link.BriskDllInit("QM0000", kModelNumber, kLargestRead, kBoardAddress), 0);
    check();
}

TEST(LinkResult, EveryErrorHasAValueOfItsOwnThatMapsBack)
{
    std::set<int> seen;
    for (int index = 0; index <= static_cast<int>(LinkError::Stopped); ++index) {
        const auto error = static_cast<LinkError>(index);
        const int result = linkResult(error);
        EXPECT_NE(result, LINK_OK);
        EXPECT_TRUE(seen.insert(result).second) << result;
        EXPECT_EQ(linkErrorOf(result), error);
    }
    EXPECT_EQ(linkErrorOf(LINK_OK), std::nullopt);
    EXPECT_EQ(linkErrorOf(*seen.begin() - 1), std::nullopt);
}

TEST_F(SerialBoardLinkTest, InitRestoresTheDefaultTimers)
{
    LinkTimers configured;
    ASSERT_EQ(link.ReadTimers(configured), 0);
    ASSERT_EQ(link.BriskDllInit(kRadioModel, kModelNumber, kLargestRead, kBoardAddress), 0);
    LinkTimers fresh;
    ASSERT_EQ(link.ReadTimers(fresh), 0);
    EXPECT_NE(fresh.words, configured.words);
    EXPECT_EQ(fresh.words, defaultTimers(*lineProfileFor(kRadioModel)).words);
}

struct TimerCase {
    std::size_t word;
    std::uint32_t value;
    bool accepted;
};

void PrintTo(const TimerCase& c, std::ostream* os) { *os << "word " << c.word << " = " << c.value; }

class ConfigureTimersTest : public SerialBoardLinkTest, public ::testing::WithParamInterface<TimerCase> {};

TEST_P(ConfigureTimersTest, TakesSaneWordsAndRefusesNonsense)
{
    const TimerCase& c = GetParam();
    LinkTimers before;
    ASSERT_EQ(link.ReadTimers(before), 0);
    LinkTimers changed = before;
    changed.words[c.word] = c.value;
    EXPECT_EQ(link.ConfigureTimers(changed) == 0, c.accepted);
    LinkTimers after;
    ASSERT_EQ(link.ReadTimers(after), 0);
    EXPECT_EQ(after.words, c.accepted ? changed.words : before.words);
}

INSTANTIATE_TEST_SUITE_P(
    Words, ConfigureTimersTest,
    ::testing::Values(TimerCase{TIMER_INTER_BYTE_GAP_MS, 0, false}, TimerCase{TIMER_ANSWER_TIMEOUT_MS, 0, false},
                      TimerCase{TIMER_ANSWER_TIMEOUT_MS, 60001, false}, TimerCase{TIMER_BAUD_RATE, 9600, false},
                      TimerCase{TIMER_PING_TIMEOUT_MS, 0, false}, TimerCase{TIMER_QUIET_TIME_MS, 20, true},
                      TimerCase{TIMER_QUIET_TIME_MS, 19, false}, TimerCase{TIMER_QUIET_LIMIT_MS, 24, false},
                      TimerCase{TIMER_TRIES, 0, false}, TimerCase{TIMER_TRIES, kMostTries + 1, false},
                      TimerCase{6, 1, false}, TimerCase{9, 0xFFFFFFFF, false}));

TEST_F(SerialBoardLinkTest, OpenPortTakesOnlyPortsOneToFourAndOneAtATime)
{
    for (int port : {0, 5, -1})
        EXPECT_NE(link.OpenPort(port), 0) << port;
    EXPECT_TRUE(portsAsked.empty());

    link.ClosePort(); // nothing open: harmless
    ASSERT_EQ(link.OpenPort(4), 0);
    EXPECT_NE(link.OpenPort(3), 0);
    EXPECT_EQ(link.details().lastOpen.failure, wire::OpenFailure::Busy);
    EXPECT_EQ(board.openChannels, 1);
    link.ClosePort();
    link.ClosePort();
    EXPECT_EQ(board.openChannels, 0);
    EXPECT_EQ(link.OpenPort(3), 0);
}

TEST_F(SerialBoardLinkTest, AFailedOpenKeepsItsReasonAndLeavesNoPortOpen)
{
    board.openResult = {wire::OpenFailure::PermissionDenied, "/dev/ttyS1: Permission denied"};
    EXPECT_NE(link.OpenPort(kPort), 0);
    EXPECT_EQ(link.details().lastOpen.failure, wire::OpenFailure::PermissionDenied);
    EXPECT_EQ(link.details().lastOpen.detail, "/dev/ttyS1: Permission denied");
    std::array<std::uint8_t, 4> esn{};
    EXPECT_NE(link.ReadDataOnly(kPort, esn.data(), ADDR_ESN, 4), 0);

    board.openResult = {};
    EXPECT_EQ(link.OpenPort(kPort), 0);
    EXPECT_TRUE(link.details().lastOpen.ok());

    SerialBoardLink withoutDevice([](int) { return std::unique_ptr<wire::ByteChannel>(); });
    ASSERT_EQ(withoutDevice.BriskDllInit(kRadioModel, kModelNumber, kLargestRead, kBoardAddress), 0);
    EXPECT_NE(withoutDevice.OpenPort(1), 0);
    EXPECT_EQ(withoutDevice.details().lastOpen.failure, wire::OpenFailure::NotFound);
}

TEST_F(SerialBoardLinkTest, ReadsAndWritesNeedTheOpenPortAndSaneArgumentsAndSendNothingOtherwise)
{
    ASSERT_EQ(link.OpenPort(kPort), 0);
    std::array<std::uint8_t, 300> buffer{};
    std::uint8_t* const none = nullptr;
    EXPECT_NE(link.ReadDataOnly(kPort + 1, buffer.data(), 0x0500, 4), 0);
    EXPECT_NE(link.WriteDataOnly(kPort + 1, buffer.data(), 0x1201, 1, 0), 0);
    EXPECT_NE(link.ReadDataOnly(kPort, buffer.data(), 0x0500, 0), 0);
    EXPECT_NE(link.ReadDataOnly(kPort, buffer.data(), 0x0500, 257), 0);
    EXPECT_NE(link.WriteDataOnly(kPort, buffer.data(), 0x0000, 257, 0), 0);
    EXPECT_NE(link.WriteDataOnly(kPort, buffer.data(), 0xDEADBEEF, 1, 0), 0); // the flash layer's "no block"
    EXPECT_NE(link.ReadDataOnly(kPort, buffer.data(), 0x10000, 1), 0);
    EXPECT_NE(link.ReadDataOnly(kPort, none, 0x0500, 4), 0);
    EXPECT_NE(link.WriteDataOnly(kPort, none, 0x1201, 1, 0), 0);
    EXPECT_NE(link.WriteDataOnly(kPort, buffer.data(), 0x1201, 1, 1), 0);
    EXPECT_TRUE(board.received.empty());

    EXPECT_EQ(link.ReadDataOnly(kPort, buffer.data(), 0xFFFF, 256), 0);
    link.ClosePort();
    EXPECT_NE(link.ReadDataOnly(kPort, buffer.data(), 0x0500, 4), 0);
    EXPECT_EQ(board.received.size(), 1u);
}

TEST_F(SerialBoardLinkTest, PingSendsTheInitTextsAndCopiesTheBoardsAnswerThenClosesThePort)
{
    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    ASSERT_EQ(link.Ping_Opt_Board(kPort, reply.data()), 0);
    EXPECT_EQ(reply, board.pingAnswer);
    EXPECT_EQ(board.openChannels, 0);

    ASSERT_EQ(board.received.size(), 1u);
    const auto& ping = board.received[0].request;
    EXPECT_EQ(ping.kind, wire::FrameKind::Ping);
    const auto payload = wire::decodePingPayload(ping.payload);
    ASSERT_TRUE(payload.has_value());
    EXPECT_EQ(payload->radioModel, "QM7731");
    EXPECT_EQ(payload->modelNumber, "ZZQ83LKW4PXT0B");
    EXPECT_EQ(payload->largestRead, 52);
    EXPECT_EQ(payload->boardAddress, 52);

    // The ping's port is its own: nothing stays open for reads.
    EXPECT_NE(link.ReadDataOnly(kPort, reply.data(), ADDR_ESN, 4), 0);
}

TEST_F(SerialBoardLinkTest, PingIsRefusedWhileAPortIsOpen)
{
    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    ASSERT_EQ(link.OpenPort(kPort), 0);
    EXPECT_NE(link.Ping_Opt_Board(kPort, reply.data()), 0);
    EXPECT_NE(link.Ping_Opt_Board(kPort, nullptr), 0);
    EXPECT_TRUE(board.received.empty());
}

// A byte of the ping answer (offset, value) that another device would get wrong.
using PingAnswerByte = std::pair<std::size_t, std::uint8_t>;

class NotALodestar : public SerialBoardLinkTest, public ::testing::WithParamInterface<PingAnswerByte> {};

TEST_P(NotALodestar, PingAnswerFromAnotherDeviceIsAFailureAndLeavesTheReplyAlone)
{
    const auto [offset, value] = GetParam();
    board.pingAnswer[offset] = value;
    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    EXPECT_NE(link.Ping_Opt_Board(kPort, reply.data()), 0);
    EXPECT_EQ(reply, (std::array<std::uint8_t, wire::kPingAnswerSize>{}));
    EXPECT_EQ(board.openChannels, 0);
}

INSTANTIATE_TEST_SUITE_P(AnswerBytes, NotALodestar,
                         ::testing::Values(PingAnswerByte{0, 'l'}, // signature
                                           PingAnswerByte{7, 'S'},
                                           PingAnswerByte{8, 3},    // protocol version
                                           PingAnswerByte{9, 53},   // another bus address
                                           PingAnswerByte{11, 0})); // largest count 0, less than 52

// One fault on the first transmission of a request: the link must resend the same frame once
// and end with the right result, and the board must execute the request once.
class SingleFault : public SerialBoardLinkTest,
                    public ::testing::WithParamInterface<std::tuple<wire::FrameKind, Fault>> {
protected:
    static constexpr std::uint16_t kEarlierAddress = 0x2700;
    static constexpr std::uint16_t kAddress = 0x2600;
};

TEST_P(SingleFault, EndsInOneResendWithTheRightResultAndOneExecution)
{
    const auto [kind, fault] = GetParam();
    fillMemory(kEarlierAddress, pattern(23, 0x80));
    fillMemory(kAddress, pattern(23, 0x10));
    const auto page = pattern(256, 0x33);
    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    std::vector<std::uint8_t> data(23);

    // A first request of the same kind, so that a late answer to it has the same shape.
    const auto request = [&](std::uint16_t address) {
        switch (kind) {
        case wire::FrameKind::Write:
            return link.WriteDataOnly(kPort, page.data(), address, 256, 0);
        case wire::FrameKind::Read:
            return link.ReadDataOnly(kPort, data.data(), address, 23);
        case wire::FrameKind::Ping:
            break;
        }
        link.ClosePort();
        const int result = link.Ping_Opt_Board(kPort, reply.data());
        link.OpenPort(kPort);
        return result;
    };
    ASSERT_EQ(link.OpenPort(kPort), 0);
    ASSERT_EQ(request(kEarlierAddress), 0);
    const std::size_t before = board.received.size();
    board.pingAnswer[11] = 0x02; // a ping answer unlike the earlier one
    board.faults = {fault};
    std::fill(data.begin(), data.end(), 0);

    ASSERT_EQ(request(kAddress), 0);
    EXPECT_EQ(link.statistics().retries, 1u);

    const std::vector<FrameBoard::Received> frames(board.received.begin() + static_cast<std::ptrdiff_t>(before),
                                                   board.received.end());
    if (fault == Fault::CorruptRequest) {
        ASSERT_EQ(frames.size(), 1u); // the board never decoded the spoiled frame
        EXPECT_FALSE(frames[0].repeat);
    } else {
        ASSERT_EQ(frames.size(), 2u);
        EXPECT_FALSE(frames[0].repeat);
        EXPECT_TRUE(frames[1].repeat);
        EXPECT_EQ(frames[1].request.control, frames[0].request.control);
        EXPECT_EQ(frames[1].request.crc, frames[0].request.crc);
    }
    switch (kind) {
    case wire::FrameKind::Write:
        EXPECT_EQ(board.writesTo(kAddress), 1u);
        EXPECT_TRUE(std::equal(page.begin(), page.end(), board.memory.begin() + kAddress));
        break;
    case wire::FrameKind::Read:
        EXPECT_EQ(data, pattern(23, 0x10));
        break;
    case wire::FrameKind::Ping:
        EXPECT_EQ(reply, board.pingAnswer);
        break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Faults, SingleFault,
    ::testing::Combine(::testing::Values(wire::FrameKind::Write, wire::FrameKind::Read, wire::FrameKind::Ping),
                       ::testing::Values(Fault::CorruptAnswer, Fault::TruncateAnswer, Fault::LoseAnswer,
                                         Fault::DuplicateAnswer, Fault::EarlierAnswerFirst, Fault::GarbageFirst,
                                         Fault::CorruptRequest)),
    [](const auto& info) { return kindName(std::get<0>(info.param)) + faultName(std::get<1>(info.param)); });

// Writes streamed through the link's write window, as the flash layer streams a page's three
// writes and the next page's select; one fault hits the page data, in the middle of the
// window. Every write must end with its own result, a refused one alone failing, and the
// board must execute each write at most once, whatever it held: one request at a time (a
// board of protocol version 1), a buffer that takes one of these writes at a time, or several.
using WindowCase = std::tuple<Fault, std::optional<std::uint16_t>>; // the fault, the board's buffer

class WindowFault : public SerialBoardLinkTest, public ::testing::WithParamInterface<WindowCase> {
protected:
    struct Write {
        std::uint16_t address;
        std::vector<std::uint8_t> bytes;
    };
    const std::vector<Write> writes{{0x2000, {0x00}}, {0x3000, pattern(256, 0x40)}, {0x4000, pattern(6, 0x0A)},
                                    {0x5000, {0x00}}};

    // The results in the order of the writes, taking answers only when the window is full.
    std::vector<int> stream()
    {
        std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
        EXPECT_EQ(link.Ping_Opt_Board(kPort, reply.data()), 0);
        EXPECT_EQ(link.OpenPort(kPort), 0);
        const auto window = link.openWriteWindow(kPort);
        std::vector<int> results;
        for (const Write& write : writes) {
            const auto count = static_cast<std::uint32_t>(write.bytes.size());
            while (!window->hasRoomFor(count))
                results.push_back(window->nextAnswer());
            EXPECT_EQ(window->send(write.bytes.data(), write.address, count), 0);
        }
        while (window->answersDue() != 0)
            results.push_back(window->nextAnswer());
        return results;
    }
};

TEST_P(WindowFault, EveryWriteEndsWithItsOwnResultAndIsExecutedAtMostOnce)
{
    const auto [fault, receiveBuffer] = GetParam();
    board.receiveBuffer = receiveBuffer;
    board.faults = {Fault::None, Fault::None, fault}; // the ping, the select, then the data
    const auto results = stream();

    ASSERT_EQ(results.size(), writes.size());
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const bool refused = fault == Fault::Refuse && i == 1;
        EXPECT_EQ(results[i] == 0, !refused) << "write " << i;
        EXPECT_EQ(board.writesTo(writes[i].address), refused ? 0u : 1u) << "write " << i;
        if (!refused) {
            EXPECT_TRUE(std::equal(writes[i].bytes.begin(), writes[i].bytes.end(),
                                   board.memory.begin() + writes[i].address))
                << "write " << i;
        }
    }
    // A lost answer costs one resend alone, or of every write on the line behind it too; a
    // duplicated one is taken as the next write's answer, which is then sent again with the last.
    const bool resent = fault != Fault::None && fault != Fault::Refuse;
    const std::uint64_t streamed = fault == Fault::DuplicateAnswer ? 2 : 3;
    EXPECT_EQ(link.statistics().retries, resent ? (receiveBuffer == 1024 ? streamed : 1u) : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, WindowFault,
    ::testing::Combine(::testing::Values(Fault::None, Fault::Refuse, Fault::LoseAnswer, Fault::CorruptAnswer,
                                         Fault::TruncateAnswer, Fault::DuplicateAnswer, Fault::GarbageFirst,
                                         Fault::CorruptRequest),
                       ::testing::Values(std::optional<std::uint16_t>{}, std::optional<std::uint16_t>{262},
                                         std::optional<std::uint16_t>{1024})),
    [](const auto& info) {
        const auto buffer = std::get<1>(info.param);
        return faultName(std::get<0>(info.param)) +
               (buffer ? "Buffer" + std::to_string(*buffer) : std::string("OneAtATime"));
    });

// A board whose buffer holds one of the page's writes at a time gets exactly the bytes a
// board of protocol version 1 gets: the same frames, one after another.
TEST_F(WindowFault, AWindowOfOneSendsWhatOneAtATimeSends)
{
    stream();
    const auto oneAtATime = board.sent;
    FrameBoard small;
    small.receiveBuffer = 262;
    SerialBoardLink other(memoryLines(small), &clock);
    ASSERT_EQ(other.BriskDllInit(kRadioModel, kModelNumber, kLargestRead, kBoardAddress), 0);
    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    ASSERT_EQ(other.Ping_Opt_Board(kPort, reply.data()), 0);
    ASSERT_EQ(other.OpenPort(kPort), 0);
    const auto window = other.openWriteWindow(kPort);
    for (const Write& write : writes) {
        ASSERT_EQ(window->send(write.bytes.data(), write.address, static_cast<std::uint32_t>(write.bytes.size())), 0);
        EXPECT_FALSE(window->hasRoomFor(256)); // nothing else fits beside any of them
        ASSERT_EQ(window->nextAnswer(), 0);
    }
    EXPECT_EQ(small.sent, oneAtATime);
}

// The line dies with three writes on it: the first is tried as often as any request, the
// others, sent and resent with it, fail with it.
TEST_F(WindowFault, ALineThatDiesMidWindowFailsEveryWriteOnItWithinTheTries)
{
    board.receiveBuffer = 1024;
    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    ASSERT_EQ(link.Ping_Opt_Board(kPort, reply.data()), 0);
    ASSERT_EQ(link.OpenPort(kPort), 0);
    const auto window = link.openWriteWindow(kPort);
    ASSERT_EQ(window->send(writes[0].bytes.data(), writes[0].address, 1), 0);
    board.dead = true;
    for (std::size_t i = 1; i < writes.size(); ++i)
        ASSERT_EQ(window->send(writes[i].bytes.data(), writes[i].address,
                               static_cast<std::uint32_t>(writes[i].bytes.size())),
                  0);
    EXPECT_EQ(window->nextAnswer(), 0);
    for (std::size_t i = 1; i < writes.size(); ++i)
        EXPECT_NE(window->nextAnswer(), 0) << "write " << i;
    EXPECT_EQ(window->answersDue(), 0u);
    EXPECT_EQ(link.statistics().retries, 3 * (kConnectionTries - 1));
    // Each try waits for the first answer behind the frames on the line, then for quiet.
    EXPECT_LE(board.waited, kConnectionTries * (kConnectionAnswerTimeout + milliseconds(25) + kDefaultQuietTime));
}

class PersistentFault : public SerialBoardLinkTest, public ::testing::WithParamInterface<Fault> {};

TEST_P(PersistentFault, FailsAfterExactlyTheTriesWithoutTouchingTheBufferOrExecutingTwice)
{
    fillMemory(0x2600, pattern(23, 0x10));
    ASSERT_EQ(link.OpenPort(kPort), 0);
    std::vector<std::uint8_t> data(23);
    ASSERT_EQ(link.ReadDataOnly(kPort, data.data(), 0x2700, 23), 0); // an earlier answer to come late
    board.alwaysFaulty = true;
    board.persistentFault = GetParam();

    std::fill(data.begin(), data.end(), 0xAA);
    EXPECT_NE(link.ReadDataOnly(kPort, data.data(), 0x2600, 23), 0);
    EXPECT_EQ(data, std::vector<std::uint8_t>(23, 0xAA));
    const auto page = pattern(256, 0x33);
    EXPECT_NE(link.WriteDataOnly(kPort, page.data(), 0x0000, 256, 0), 0);
    EXPECT_LE(board.writesTo(0x0000), 1u);

    EXPECT_EQ(link.statistics().requests, 3u);
    EXPECT_EQ(link.statistics().retries, 2 * (kConnectionTries - 1));
    EXPECT_EQ(link.statistics().payloadBytes, 23u);
}

INSTANTIATE_TEST_SUITE_P(Faults, PersistentFault,
                         ::testing::Values(Fault::CorruptAnswer, Fault::TruncateAnswer, Fault::LoseAnswer,
                                           Fault::DuplicateAnswer, Fault::EarlierAnswerFirst, Fault::GarbageFirst,
                                           Fault::CorruptRequest),
                         [](const auto& info) { return std::string(faultName(info.param)); });

TEST_F(SerialBoardLinkTest, ARefusalFailsAtOnceWithoutResending)
{
    ASSERT_EQ(link.OpenPort(kPort), 0);
    const std::uint8_t command = 0;
    board.faults = {Fault::Refuse};
    EXPECT_NE(link.WriteDataOnly(kPort, &command, 0x1116, 1, 0), 0);
    EXPECT_EQ(board.executedAddresses.size(), 0u);

    std::array<std::uint8_t, 2> status{0xAA, 0xAA};
    board.faults = {Fault::Refuse};
    EXPECT_NE(link.ReadDataOnly(kPort, status.data(), 0x0C00, 2), 0);
    EXPECT_EQ(status, (std::array<std::uint8_t, 2>{0xAA, 0xAA}));

    EXPECT_EQ(board.received.size(), 2u);
    EXPECT_EQ(link.statistics().retries, 0u);

    // The next request is a new one, which the board executes.
    EXPECT_EQ(link.WriteDataOnly(kPort, &command, 0x1116, 1, 0), 0);
    EXPECT_EQ(board.executedAddresses.size(), 1u);
}

TEST_F(SerialBoardLinkTest, ADeadLineFailsAfterTheTriesWithinABoundedWait)
{
    ASSERT_EQ(link.OpenPort(kPort), 0);
    board.dead = true;
    std::array<std::uint8_t, 4> esn{};
    EXPECT_NE(link.ReadDataOnly(kPort, esn.data(), ADDR_ESN, 4), 0);
    EXPECT_EQ(link.statistics().retries, kConnectionTries - 1);
    EXPECT_EQ(link.statistics().wireBytesSent, kConnectionTries * 6u); // header and CRC of a read
    EXPECT_LE(board.waited, kConnectionTries * (kConnectionAnswerTimeout + kDefaultQuietTime));
}

TEST_F(SerialBoardLinkTest, ALineThatNeverFallsQuietIsGivenUpWithinTheQuietLimit)
{
    ASSERT_EQ(link.OpenPort(kPort), 0);
    board.noisy = true;
    const std::uint8_t command = 0;
    EXPECT_NE(link.WriteDataOnly(kPort, &command, 0x1201, 1, 0), 0);
    EXPECT_EQ(board.executedAddresses.size(), 1u);
    EXPECT_LE(board.waited, kConnectionAnswerTimeout + kDefaultQuietLimit);
    EXPECT_EQ(link.statistics().retries, 0u); // no point resending into the noise
}

TEST_F(SerialBoardLinkTest, APulledCableFailsAtOnce)
{
    ASSERT_EQ(link.OpenPort(kPort), 0);
    board.cablePulled = true;
    const std::uint8_t command = 0;
    EXPECT_NE(link.WriteDataOnly(kPort, &command, 0x1201, 1, 0), 0);
    EXPECT_EQ(link.statistics().retries, 0u);
    EXPECT_EQ(link.statistics().wireBytesSent, 0u);
}

TEST_F(SerialBoardLinkTest, StaleInputIsDroppedBeforeSending)
{
    fillMemory(ADDR_ESN, {0x01, 0x02, 0x03, 0x04});
    ASSERT_EQ(link.OpenPort(kPort), 0);
    std::array<std::uint8_t, 4> esn{};
    ASSERT_EQ(link.ReadDataOnly(kPort, esn.data(), ADDR_ESN, 4), 0);
    // A second copy of that answer turns up after the read is over.
    const auto& first = board.received.back().request;
    const auto late = wire::encodeDataAnswer(wire::kAck, first, esn);
    board.toHost.assign(late.begin(), late.end());

    fillMemory(ADDR_ESN, {0x05, 0x06, 0x07, 0x08});
    ASSERT_EQ(link.ReadDataOnly(kPort, esn.data(), ADDR_ESN, 4), 0);
    EXPECT_EQ(esn, (std::array<std::uint8_t, 4>{0x05, 0x06, 0x07, 0x08}));
    EXPECT_EQ(link.statistics().retries, 0u);
}

TEST_F(SerialBoardLinkTest, TimesEachAnswersTurnaroundLessTheLineTimeOfItsRequest)
{
    board.clock = &clock;
    board.turnaround = milliseconds(30);
    ASSERT_EQ(link.OpenPort(kPort), 0);
    std::array<std::uint8_t, 4> esn{};
    ASSERT_EQ(link.ReadDataOnly(kPort, esn.data(), ADDR_ESN, 4), 0);
    const auto page = pattern(256, 0x33);
    ASSERT_EQ(link.WriteDataOnly(kPort, page.data(), 0x0000, 256, 0), 0);
    board.dead = true; // no answer, so nothing to time
    EXPECT_NE(link.ReadDataOnly(kPort, esn.data(), ADDR_ESN, 4), 0);

    const auto& stats = link.statistics();
    EXPECT_EQ(stats.answersTimed, 2u);
    EXPECT_EQ(stats.answerWait, milliseconds(60));
    // 6 and 262 bytes at 10 bits a byte and 115200 baud: 520 and 22743 us.
    EXPECT_EQ(stats.requestLineTime, std::chrono::microseconds(23263));
    EXPECT_EQ(stats.meanTurnaround(), std::chrono::microseconds((60000 - 23263) / 2));
}

// Answers that come back while more writes are on their way cost nothing: only the last of a
// window, awaited on an idle line, is timed.
TEST_F(SerialBoardLinkTest, TimesOnlyTheAnswerAwaitedOnAnIdleLine)
{
    board.receiveBuffer = 1024;
    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    ASSERT_EQ(link.Ping_Opt_Board(kPort, reply.data()), 0);
    ASSERT_EQ(link.OpenPort(kPort), 0);
    const auto before = link.statistics();
    board.clock = &clock;
    board.turnaround = milliseconds(30);
    const auto window = link.openWriteWindow(kPort);
    const auto page = pattern(256, 0x33);
    for (const std::uint32_t count : {1u, 256u, 6u})
        ASSERT_EQ(window->send(page.data(), 0x1000 + count, count), 0);
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(window->nextAnswer(), 0);

    const auto& stats = link.statistics();
    EXPECT_EQ(stats.answersTimed - before.answersTimed, 1u);
    EXPECT_EQ(stats.answerWait - before.answerWait, milliseconds(30)); // handed over at 60 ms, answered at 90
    // Its 12 bytes at 10 bits a byte and 115200 baud, the line being free again by then.
    EXPECT_EQ(stats.requestLineTime - before.requestLineTime, std::chrono::microseconds(1041));
}

TEST_F(SerialBoardLinkTest, SequenceNumbersCountUpAcrossConnectionsAndWrapAfter63)
{
    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    ASSERT_EQ(link.Ping_Opt_Board(kPort, reply.data()), 0);
    ASSERT_EQ(link.OpenPort(kPort), 0);
    std::array<std::uint8_t, 4> esn{};
    for (int i = 0; i < 40; ++i)
        ASSERT_EQ(link.ReadDataOnly(kPort, esn.data(), ADDR_ESN, 4), 0);
    link.ClosePort();
    ASSERT_EQ(link.BriskDllInit(kRadioModel, kModelNumber, kLargestRead, kBoardAddress), 0);
    ASSERT_EQ(link.OpenPort(kPort), 0);
    for (int i = 0; i < 30; ++i)
        ASSERT_EQ(link.ReadDataOnly(kPort, esn.data(), ADDR_ESN, 4), 0);

    ASSERT_EQ(board.received.size(), 71u);
    for (std::size_t i = 0; i < board.received.size(); ++i) {
        EXPECT_EQ(board.received[i].request.sequence, i % 64) << i;
        EXPECT_FALSE(board.received[i].repeat) << i;
    }
}

TEST_F(SerialBoardLinkTest, SendsTheFramesOfTheProtocolDocument)
{
    fillMemory(ADDR_ESN, {0x01, 0x00, 0x00, 0x80});
    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    ASSERT_EQ(link.Ping_Opt_Board(kPort, reply.data()), 0);
    ASSERT_EQ(link.OpenPort(kPort), 0);
    std::array<std::uint8_t, 4> esn{};
    ASSERT_EQ(link.ReadDataOnly(kPort, esn.data(), ADDR_ESN, 4), 0);
    const std::uint8_t select = 0;
    ASSERT_EQ(link.WriteDataOnly(kPort, &select, 0x011A, 1, 0), 0);

    using Bytes = std::vector<std::uint8_t>;
    ASSERT_EQ(board.sent.size(), 3u);
    EXPECT_EQ(board.sent[0], (Bytes{0xC0,                                     // ping, sequence 0
                                    0x00, 0x00,                               // no address
                                    0x17,                                     // 24 payload bytes
                                    'Q', 'M', '7', '7', '3', '1', 0x00,       // radio model
                                    'Z', 'Z', 'Q', '8', '3', 'L', 'K', 'W', '4', 'P', 'X', 'T', '0', 'B', 0x00,
                                    0x34,                                     // largest read, 52
                                    0x34,                                     // board address, 52
                                    0xA3, 0x4F}));                            // CRC
    EXPECT_EQ(board.sent[1], (Bytes{0x41, 0x00, 0x05, 0x03, 0x7E, 0x53}));    // read, sequence 1, 0x0500, 4 bytes
    EXPECT_EQ(board.sent[2], (Bytes{0x82, 0x1A, 0x01, 0x00, 0x00, 0x63, 0x33})); // write, sequence 2, 0x011A, 1 byte
    EXPECT_EQ(wire::encodeWriteAnswer(wire::kAck, board.received[2].request), (Bytes{0x2A, 0xAE}));
    EXPECT_EQ(wire::encodeDataAnswer(wire::kAck, board.received[1].request, esn),
              (Bytes{0x06, 0x01, 0x00, 0x00, 0x80, 0x19, 0xA2}));
}

} // namespace
} // namespace fieldkit::link
