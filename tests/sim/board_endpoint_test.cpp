#include "sim/board_endpoint.h"
#include "sim/in_memory_channel.h"

#include "tests/sim/sim_test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fieldkit::sim {
namespace {

using wire::FrameKind;

std::vector<std::uint8_t> concat(std::initializer_list<std::vector<std::uint8_t>> parts)
{
    std::vector<std::uint8_t> all;
    for (const auto& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<std::uint8_t> writeFrame(std::uint8_t sequence, std::uint16_t word, const std::vector<std::uint8_t>& data)
{
    return frameOf(FrameKind::Write, sequence, word, data.size(), data);
}

bool acked(const std::vector<std::uint8_t>& answer, const std::vector<std::uint8_t>& frame)
{
    return writeAccepted(answer, makeRequest(FrameKind::Write, frame[0] & wire::kSequenceMask,
                                             static_cast<std::uint16_t>(frame[1] | (frame[2] << 8)),
                                             std::size_t{frame[3]} + 1, {frame.begin() + 4, frame.end() - 2}));
}

TEST(BoardEndpoint, AnswersARequestWhenItsLastByteArrives)
{
    BoardEndpoint endpoint{BoardOptions{}};
    const auto frame = frameOf(FrameKind::Read, 9, ADDR_ESN, 4);
    for (std::size_t i = 0; i + 1 < frame.size(); ++i)
        EXPECT_TRUE(endpoint.receive(std::span(frame).subspan(i, 1)).empty());
    const auto answer = endpoint.receive(std::span(frame).last(1));

    const auto request = makeRequest(FrameKind::Read, 9, ADDR_ESN, 4);
    EXPECT_EQ(answerData(answer, request), (std::vector<std::uint8_t>{0x71, 0x5C, 0x3A, 0x1E}));
}

TEST(BoardEndpoint, SilenceDropsAFrameCutShort)
{
    BoardEndpoint endpoint{BoardOptions{}};
    const auto frame = frameOf(FrameKind::Read, 1, ADDR_ESN, 4);
    endpoint.receive(std::span(frame).first(3));
    endpoint.lineIdle();
    EXPECT_FALSE(endpoint.receive(frame).empty());
    EXPECT_EQ(endpoint.counters().badFrames, 1u);
}

TEST(BoardEndpoint, ARepeatedFrameIsAnsweredAgainWithoutBeingExecutedAgain)
{
    BoardEndpoint endpoint{BoardOptions{}};
    ASSERT_TRUE(
        acked(endpoint.receive(writeFrame(0, CMD_PROGRAMMING_MODE, {0})), writeFrame(0, CMD_PROGRAMMING_MODE, {0})));
    endpoint.receive(concat({writeFrame(1, 0x011A, {0}), writeFrame(2, ADDR_PAGE_DATA, filledPage(0x00))}));
    const auto commit = writeFrame(3, ADDR_PAGE_COMMIT, commitRecord(0xA0000));

    const auto first = endpoint.receive(commit);
    const auto repeated = endpoint.receive(commit);
    EXPECT_TRUE(acked(first, commit));
    EXPECT_EQ(repeated, first); // executing it again would have found no page pending
    EXPECT_EQ(endpoint.counters().repeats, 1u);
    EXPECT_EQ(endpoint.boardCounters().pagesProgrammed, 1u);

    const auto next = writeFrame(4, ADDR_PAGE_COMMIT, commitRecord(0xA0000));
    EXPECT_FALSE(acked(endpoint.receive(next), next));
}

TEST(BoardEndpoint, ARepeatedFailingCommitDoesNotUseUpAnAttemptAndTheLogTellsRepeatsFromRefusals)
{
    TempDir dir;
    const auto log = dir.file("requests.log");
    BoardEndpoint endpoint{parseBoardOptions({"--fail-page-writes", "2", "--request-log", log})};
    endpoint.receive(writeFrame(0, CMD_PROGRAMMING_MODE, {0}));
    std::uint8_t sequence = 1;
    // Select and data go out; the commit that follows them is returned.
    const auto attempt = [&] {
        endpoint.receive(concat({writeFrame(sequence, 0x011A, {0}),
                                 writeFrame(static_cast<std::uint8_t>(sequence + 1), ADDR_PAGE_DATA, filledPage(0x00))}));
        sequence = static_cast<std::uint8_t>(sequence + 3);
        return writeFrame(static_cast<std::uint8_t>(sequence - 1), ADDR_PAGE_COMMIT, commitRecord(0xA0000));
    };
    const auto first = attempt();
    EXPECT_FALSE(acked(endpoint.receive(first), first)); // attempt 1
    EXPECT_FALSE(acked(endpoint.receive(first), first)); // the same frame again: no attempt
    const auto alone = writeFrame(sequence++, ADDR_PAGE_COMMIT, commitRecord(0xA0000));
    EXPECT_FALSE(acked(endpoint.receive(alone), alone)); // no select and data right before: no attempt
    const auto second = attempt();
    EXPECT_FALSE(acked(endpoint.receive(second), second)); // attempt 2
    EXPECT_FALSE(acked(endpoint.receive(first), first));   // still remembered a window later: a repeat
    const auto third = attempt();
    EXPECT_TRUE(acked(endpoint.receive(third), third));
    EXPECT_EQ(endpoint.counters().repeats, 2u);
    EXPECT_EQ(endpoint.boardCounters().pagesProgrammed, 1u);

    std::ifstream in(log);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 13u);
    EXPECT_EQ(lines[0], "write 0x1201 1 00 executed ack -");
    EXPECT_EQ(lines[2].substr(0, 25), "write 0x0000 256 00000000");
    EXPECT_EQ(lines[3], "write 0xFFFF 6 0A0B0C00000A executed nak -");
    EXPECT_EQ(lines[4], "write 0xFFFF 6 0A0B0C00000A repeat nak -");
    EXPECT_EQ(lines[5], "write 0xFFFF 6 0A0B0C00000A executed nak -");
    EXPECT_EQ(lines[9], "write 0xFFFF 6 0A0B0C00000A repeat nak -");
    EXPECT_EQ(lines[12], "write 0xFFFF 6 0A0B0C00000A executed ack -");
}

// A board that holds several requests remembers the answers of as many for resends; a board
// of protocol version 1 only the last one's.
TEST(BoardEndpoint, RemembersTheAnswersOfAWindowOrOfTheLastRequest)
{
    for (const auto& [version, repeats] : {std::pair{"2", 1u}, {"1", 0u}}) {
        BoardEndpoint endpoint{parseBoardOptions({"--protocol", version})};
        const auto first = frameOf(FrameKind::Read, 0, ADDR_ESN, 4);
        endpoint.receive(concat({first, frameOf(FrameKind::Read, 1, ADDR_ESN, 4)}));
        EXPECT_FALSE(endpoint.receive(first).empty());
        EXPECT_EQ(endpoint.counters().repeats, repeats) << "protocol " << version;
    }
}

// Requests stay in the board's buffer until their answers have left; a byte that finds it full
// is lost, and spoils its frame.
TEST(BoardEndpoint, AFullReceiveBufferLosesBytesUntilAnAnswerHasLeft)
{
    BoardEndpoint endpoint{parseBoardOptions({"--receive-buffer", "19"})};
    const auto read = frameOf(FrameKind::Read, 0, ADDR_ESN, 4);
    const auto mode = writeFrame(1, CMD_PROGRAMMING_MODE, {0});
    const auto erase = writeFrame(2, 0x111A, {0});
    ASSERT_EQ(endpoint.receiveHolding(concat({read, mode})).size(), 2u); // 13 bytes held
    EXPECT_TRUE(endpoint.receiveHolding(erase).empty());                  // its last byte is lost
    EXPECT_EQ(endpoint.counters().bytesOverrun, 1u);
    endpoint.lineIdle();
    endpoint.answerSent(read.size());
    const auto answers = endpoint.receiveHolding(erase);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_TRUE(acked(answers[0].bytes, erase));
    EXPECT_EQ(endpoint.boardCounters().blocksErased, 1u);
}

TEST(BoardEndpoint, APingClearsTheRepeatMemory)
{
    BoardEndpoint endpoint{BoardOptions{}};
    const auto read = frameOf(FrameKind::Read, 0, ADDR_ESN, 4);
    const auto ping = goodPingPayload();
    endpoint.receive(read);
    EXPECT_FALSE(endpoint.receive(frameOf(FrameKind::Ping, 0, 0, ping.size(), ping)).empty());
    endpoint.receive(read);
    EXPECT_EQ(endpoint.counters().repeats, 0u);
    EXPECT_EQ(endpoint.counters().requests, 3u);
}

TEST(BoardEndpoint, CountsRequestsAndBytesEachWay)
{
    BoardEndpoint endpoint{BoardOptions{}};
    const auto read = frameOf(FrameKind::Read, 0, ADDR_FIRMWARE_VERSION, 15);
    const auto write = writeFrame(1, ADDR_PAGE_DATA, filledPage(0x00));
    const auto readAnswer = endpoint.receive(read);
    const auto writeAnswer = endpoint.receive(write);

    const LineCounters counters = endpoint.counters();
    EXPECT_EQ(counters.requests, 2u);
    EXPECT_EQ(counters.payloadBytesIn, 256u);
    EXPECT_EQ(counters.payloadBytesOut, 15u);
    EXPECT_EQ(counters.wireBytesIn, read.size() + write.size());
    EXPECT_EQ(counters.wireBytesOut, readAnswer.size() + writeAnswer.size());
    EXPECT_EQ(readAnswer.size(), 1u + 15u + 2u);
    EXPECT_EQ(writeAnswer.size(), 2u);
}

TEST(BoardEndpoint, DeadAfterSilencesTheLineButTheLastWholeRequestIsStillExecuted)
{
    const auto modeFrame = writeFrame(0, CMD_PROGRAMMING_MODE, {0});
    const auto readFrame = frameOf(FrameKind::Read, 1, ADDR_ESN, 4);
    const auto eraseFrame = writeFrame(2, 0x111A, {0});
    const std::size_t cut = modeFrame.size() + readFrame.size() + eraseFrame.size();
    BoardEndpoint endpoint{parseBoardOptions({"--dead-after", std::to_string(cut)})};

    EXPECT_FALSE(endpoint.receive(modeFrame).empty());
    EXPECT_FALSE(endpoint.receive(readFrame).empty());
    EXPECT_TRUE(endpoint.receive(eraseFrame).empty()); // its last byte was the last to arrive
    EXPECT_EQ(endpoint.boardCounters().blocksErased, 1u);
    EXPECT_TRUE(endpoint.receive(readFrame).empty());
    EXPECT_EQ(endpoint.boardCounters().requests, 3u);
    EXPECT_EQ(endpoint.counters().wireBytesIn, cut + readFrame.size());
    EXPECT_EQ(endpoint.counters().bytesLost, 2u + readFrame.size());
}

struct LineFaultCase {
    const char* name;
    friend void PrintTo(const LineFaultCase& c, std::ostream* out) { *out << c.name; }
    std::vector<std::string> options;
};

class LineFaults : public ::testing::TestWithParam<LineFaultCase> {};

// 200 ESN reads, one after another with a silent gap after each, as a retrying host sends.
std::pair<std::vector<std::uint8_t>, LineCounters> runReads(const std::vector<std::string>& options)
{
    BoardEndpoint endpoint{parseBoardOptions(options)};
    std::vector<std::uint8_t> received;
    for (int i = 0; i < 200; ++i) {
        const auto answer =
            endpoint.receive(frameOf(FrameKind::Read, static_cast<std::uint8_t>(i & 0x3F), ADDR_ESN, 4));
        received.insert(received.end(), answer.begin(), answer.end());
        endpoint.lineIdle();
    }
    return {received, endpoint.counters()};
}

TEST_P(LineFaults, AreTheSameForTheSameSeedAndShowOnTheLine)
{
    auto options = GetParam().options;
    options.insert(options.end(), {"--seed", "7"});
    const auto [first, firstCounters] = runReads(options);
    const auto [again, againCounters] = runReads(options);
    EXPECT_EQ(first, again);
    EXPECT_EQ(firstCounters.bytesLost, againCounters.bytesLost);
    EXPECT_EQ(firstCounters.bytesCorrupted, againCounters.bytesCorrupted);
    EXPECT_EQ(firstCounters.badFrames, againCounters.badFrames);

    const auto clean = runReads({}).first;
    EXPECT_GT(firstCounters.bytesLost + firstCounters.bytesCorrupted, 0u);
    EXPECT_GT(firstCounters.badFrames, 0u);
    EXPECT_LT(firstCounters.requests, 200u);
    EXPECT_FALSE(first.empty());
    EXPECT_NE(first, clean);

    options.back() = "99";
    EXPECT_NE(runReads(options).first, first);
}

INSTANTIATE_TEST_SUITE_P(Board, LineFaults,
                         ::testing::Values(LineFaultCase{"Noise", {"--noise", "50"}},
                                           LineFaultCase{"Drop", {"--drop", "40"}},
                                           LineFaultCase{"NoiseAndDrop", {"--noise", "80", "--drop", "80"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BoardEndpoint, NoiseOnEveryByteLetsNothingThrough)
{
    BoardEndpoint endpoint{parseBoardOptions({"--noise", "1"})};
    for (int i = 0; i < 20; ++i) {
        EXPECT_TRUE(endpoint.receive(frameOf(FrameKind::Read, 0, ADDR_ESN, 4)).empty());
        endpoint.lineIdle();
    }
    EXPECT_EQ(endpoint.counters().requests, 0u);
    EXPECT_EQ(endpoint.counters().bytesCorrupted, 20u * 6u); // a read frame is 6 bytes
}

TEST(InMemoryChannel, DeliversAnswersAndReportsSilenceAtOnce)
{
    BoardEndpoint endpoint{BoardOptions{}};
    InMemoryChannel channel(endpoint);
    ASSERT_TRUE(channel.open().ok());
    ASSERT_TRUE(channel.write(frameOf(FrameKind::Read, 0, ADDR_FIRMWARE_VERSION, 15)));

    std::array<std::uint8_t, 10> part{};
    EXPECT_EQ(channel.read(part, std::chrono::milliseconds(200)), 10u);
    EXPECT_EQ(part[0], wire::kAck);
    EXPECT_EQ(part[1], 'R');
    std::array<std::uint8_t, 64> rest{};
    EXPECT_EQ(channel.read(rest, std::chrono::milliseconds(200)), 8u);
    EXPECT_EQ(channel.read(rest, std::chrono::milliseconds(200)), 0u);
}

TEST(InMemoryChannel, AnEmptyReadIsTheSilenceThatEndsAFrameCutShort)
{
    BoardEndpoint endpoint{BoardOptions{}};
    InMemoryChannel channel(endpoint);
    ASSERT_TRUE(channel.open().ok());
    const auto frame = frameOf(FrameKind::Read, 0, ADDR_ESN, 4);
    ASSERT_TRUE(channel.write(std::span(frame).first(4)));
    std::array<std::uint8_t, 16> buffer{};
    EXPECT_EQ(channel.read(buffer, std::chrono::milliseconds(50)), 0u);

    ASSERT_TRUE(channel.write(frame));
    EXPECT_EQ(channel.read(buffer, std::chrono::milliseconds(50)), 7u);
    EXPECT_EQ(endpoint.counters().badFrames, 1u);
}

TEST(InMemoryChannel, OpensCanBeMadeToFailAndAClosedChannelCarriesNothing)
{
    BoardEndpoint endpoint{BoardOptions{}};
    InMemoryChannel channel(endpoint);
    channel.failOpens(wire::OpenFailure::NotFound, 1);
    EXPECT_TRUE(channel.open().ok()); // the probe
    channel.close();
    EXPECT_FALSE(channel.isOpen());
    EXPECT_FALSE(channel.write(frameOf(FrameKind::Read, 0, ADDR_ESN, 4)));
    std::array<std::uint8_t, 16> buffer{};
    EXPECT_EQ(channel.read(buffer, std::chrono::milliseconds(50)), 0u);

    EXPECT_EQ(channel.open().failure, wire::OpenFailure::NotFound);
    EXPECT_FALSE(channel.isOpen());
    EXPECT_EQ(channel.openCount(), 2u);
    EXPECT_EQ(endpoint.counters().wireBytesIn, 0u);

    channel.failOpens(wire::OpenFailure::None);
    EXPECT_TRUE(channel.open().ok());
}

} // namespace
} // namespace fieldkit::sim
