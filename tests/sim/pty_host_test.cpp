#include "sim/pty_host.h"

#include "tests/sim/raw_client.h"
#include "tests/sim/sim_test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <thread>

namespace fieldkit::sim {
namespace {

using namespace std::chrono_literals;
using wire::FrameKind;
using SteadyClock = std::chrono::steady_clock;

constexpr std::size_t kPingAnswerBytes = 1 + wire::kWindowPingAnswerSize + 2;

std::vector<std::uint8_t> expectedPingAnswer(std::uint8_t sequence)
{
    const auto payload = goodPingPayload();
    const auto request = makeRequest(FrameKind::Ping, sequence, 0, payload.size(), payload);
    return Board{BoardOptions{}}.handle(request);
}

std::vector<std::uint8_t> pingFrame(std::uint8_t sequence)
{
    const auto payload = goodPingPayload();
    return frameOf(FrameKind::Ping, sequence, 0, payload.size(), payload);
}

// Polls `done` until it holds or `limit` passes; for waiting on the serving thread.
template <typename Condition>
bool eventually(Condition done, std::chrono::milliseconds limit = 5s)
{
    const auto giveUpAt = SteadyClock::now() + limit;
    while (!done()) {
        if (SteadyClock::now() > giveUpAt)
            return false;
        std::this_thread::sleep_for(2ms);
    }
    return true;
}

TEST(PtyBoardHost, AnswersThroughTheSlaveDeviceAcrossManyOpensAndCloses)
{
    PtyBoardHost host{BoardOptions{}};
    std::string error;
    ASSERT_TRUE(host.start(&error)) << error;
    EXPECT_EQ(host.devicePath().rfind("/dev/pts/", 0), 0u) << host.devicePath();

    // An upgrade opens the port for the probe, the ping and the connection, and the board
    // information command again afterwards.
    for (std::uint8_t round = 0; round < 6; ++round) {
        RawClient client(host.devicePath());
        ASSERT_TRUE(client.isOpen());
        client.send(pingFrame(round));
        EXPECT_EQ(client.receive(kPingAnswerBytes), expectedPingAnswer(round)) << "round " << int{round};
        const auto read = frameOf(FrameKind::Read, round + 1, ADDR_FIRMWARE_VERSION, 15);
        client.send(read);
        const auto answer = client.receive(18);
        ASSERT_EQ(answer.size(), 18u);
        EXPECT_EQ(answer[1], 'R');
    }
    EXPECT_EQ(host.counters().requests, 12u);
    EXPECT_EQ(host.counters().badFrames, 0u);
}

TEST(PtyBoardHost, CarriesWholePagesIntoTheFlashUnchanged)
{
    PtyBoardHost host{BoardOptions{}};
    std::string error;
    ASSERT_TRUE(host.start(&error)) << error;
    RawClient client(host.devicePath());
    // Every byte value, including the ones a terminal in cooked mode would translate.
    const auto page = countingPage();
    std::uint8_t sequence = 0;
    for (const auto& [word, data] :
         std::vector<std::pair<std::uint16_t, std::vector<std::uint8_t>>>{{CMD_PROGRAMMING_MODE, {0x00}},
                                                                          {0x011A, {0x00}},
                                                                          {ADDR_PAGE_DATA, page},
                                                                          {ADDR_PAGE_COMMIT, commitRecord(0xA0D00)}}) {
        const auto frame = frameOf(FrameKind::Write, sequence++, word, data.size(), data);
        client.send(frame);
        EXPECT_EQ(client.receive(2).size(), 2u);
    }
    const auto flash = host.flashSnapshot();
    EXPECT_TRUE(std::equal(page.begin(), page.end(), flash.begin() + 0xA0D00));
    EXPECT_EQ(host.boardCounters().pagesProgrammed, 1u);
}

TEST(PtyBoardHost, AFrameCutShortByAHostThatClosedThePortIsDroppedAndTheNextOneAnswered)
{
    PtyBoardHost host{BoardOptions{}};
    std::string error;
    ASSERT_TRUE(host.start(&error)) << error;
    {
        RawClient client(host.devicePath());
        const auto frame = pingFrame(0);
        client.send(std::span(frame).first(5));
        ASSERT_TRUE(eventually([&] { return host.counters().wireBytesIn == 5; }));
    }
    // The board notices the silence (or the closed port) and forgets the partial frame.
    ASSERT_TRUE(eventually([&] { return host.counters().badFrames == 1; }));
    RawClient client(host.devicePath());
    client.send(pingFrame(1));
    EXPECT_EQ(client.receive(kPingAnswerBytes), expectedPingAnswer(1));
    EXPECT_EQ(host.counters().badFrames, 1u);
}

TEST(PtyBoardHost, LinkNamesTheDeviceUntilStopRemovesIt)
{
    TempDir dir;
    BoardOptions options;
    options.linkPath = dir.file("lodestar");
    PtyBoardHost host{options};
    std::string error;
    ASSERT_TRUE(host.start(&error)) << error;
    EXPECT_EQ(host.linkPath(), options.linkPath);
    EXPECT_EQ(std::filesystem::read_symlink(options.linkPath).string(), host.devicePath());
    {
        RawClient client(options.linkPath);
        client.send(pingFrame(0));
        EXPECT_EQ(client.receive(kPingAnswerBytes), expectedPingAnswer(0));
    }
    host.stop();
    EXPECT_FALSE(std::filesystem::is_symlink(options.linkPath));
}

TEST(PtyBoardHost, ReplacesAStaleLinkButNeverAFile)
{
    TempDir dir;
    BoardOptions options;
    options.linkPath = dir.file("lodestar");
    std::filesystem::create_symlink("/dev/pts/nonexistent", options.linkPath);
    {
        PtyBoardHost host{options};
        std::string error;
        ASSERT_TRUE(host.start(&error)) << error;
        EXPECT_EQ(std::filesystem::read_symlink(options.linkPath).string(), host.devicePath());
    }
    std::ofstream(options.linkPath) << "keep me";
    PtyBoardHost host{options};
    std::string error;
    EXPECT_FALSE(host.start(&error));
    EXPECT_NE(error.find(options.linkPath), std::string::npos) << error;
    EXPECT_FALSE(host.running());
    std::string kept;
    std::getline(std::ifstream(options.linkPath), kept);
    EXPECT_EQ(kept, "keep me");
}

struct StartFailure {
    const char* name;
    friend void PrintTo(const StartFailure& c, std::ostream* out) { *out << c.name; }
    std::string flashFile;
    std::string devicePath;
    const char* mentions;
};

class PtyBoardHostStart : public ::testing::TestWithParam<StartFailure> {};

TEST_P(PtyBoardHostStart, FailsWithAReason)
{
    BoardOptions options;
    options.flashFile = GetParam().flashFile;
    options.devicePath = GetParam().devicePath;
    PtyBoardHost host{options};
    std::string error;
    EXPECT_FALSE(host.start(&error));
    EXPECT_NE(error.find(GetParam().mentions), std::string::npos) << error;
    EXPECT_FALSE(host.running());
}

INSTANTIATE_TEST_SUITE_P(
    Sim, PtyBoardHostStart,
    ::testing::Values(StartFailure{"MissingFlashFile", "/nonexistent/flash.bin", "", "/nonexistent/flash.bin"},
                      StartFailure{"MissingDevice", "", "/nonexistent/ttyUSB9", "/nonexistent/ttyUSB9"},
                      StartFailure{"DeviceThatIsNoSerialPort", "", "/dev/null", "not a serial device"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(PtyBoardHost, StopReturnsPromptlyWhenIdle)
{
    PtyBoardHost host{BoardOptions{}};
    std::string error;
    ASSERT_TRUE(host.start(&error)) << error;
    RawClient client(host.devicePath()); // a host that holds the port open and says nothing
    std::this_thread::sleep_for(50ms);
    const auto before = SteadyClock::now();
    host.stop();
    EXPECT_LT(SteadyClock::now() - before, 1s);
    EXPECT_FALSE(host.running());
}

TEST(PtyBoardHost, StopCutsALatencyPauseShort)
{
    BoardOptions options;
    options.latency = 30s;
    PtyBoardHost host{options};
    std::string error;
    ASSERT_TRUE(host.start(&error)) << error;
    RawClient client(host.devicePath());
    client.send(pingFrame(0));
    ASSERT_TRUE(eventually([&] { return host.counters().requests == 1; }));
    const auto before = SteadyClock::now();
    host.stop();
    EXPECT_LT(SteadyClock::now() - before, 1s);
}

// A USB adapter holds what the board sends until its latency timer runs out, then hands all
// of it over: the answers of two requests sent back to back come together, one wait for both.
TEST(PtyBoardHost, AnswersOfRequestsSentBackToBackShareTheAdaptersWait)
{
    BoardOptions options;
    options.latency = 200ms;
    PtyBoardHost host{options};
    std::string error;
    ASSERT_TRUE(host.start(&error)) << error;
    RawClient client(host.devicePath());
    const auto read = frameOf(FrameKind::Read, 1, ADDR_ESN, 4);
    auto both = pingFrame(0);
    both.insert(both.end(), read.begin(), read.end());
    const auto before = SteadyClock::now();
    client.send(both);
    EXPECT_EQ(client.receive(kPingAnswerBytes), expectedPingAnswer(0));
    const auto first = SteadyClock::now();
    EXPECT_EQ(client.receive(7).size(), 7u);
    EXPECT_GE(first - before, 200ms);
    EXPECT_LT(SteadyClock::now() - first, 100ms); // not a second wait of 200 ms
}

struct PacingCase {
    const char* name;
    friend void PrintTo(const PacingCase& c, std::ostream* out) { *out << c.name; }
    unsigned baud;
    std::chrono::milliseconds latency;
    std::chrono::milliseconds atLeast;
};

class PtyBoardHostPacing : public ::testing::TestWithParam<PacingCase> {};

// Only a lower bound: the answer cannot come sooner than the line allows.
TEST_P(PtyBoardHostPacing, TheAnswerTakesAtLeastTheTimeOfTheLine)
{
    BoardOptions options;
    options.baud = GetParam().baud;
    options.latency = GetParam().latency;
    PtyBoardHost host{options};
    std::string error;
    ASSERT_TRUE(host.start(&error)) << error;
    RawClient client(host.devicePath());
    const auto before = SteadyClock::now();
    client.send(pingFrame(0));
    EXPECT_EQ(client.receive(kPingAnswerBytes), expectedPingAnswer(0));
    EXPECT_GE(SteadyClock::now() - before, GetParam().atLeast);
}

// A ping is a 30-byte frame and a 17-byte answer: 47 bytes of 10 bits. The adapter's timer
// starts with the answer's first byte and hands the whole answer over when it runs out.
INSTANTIATE_TEST_SUITE_P(Sim, PtyBoardHostPacing,
                         ::testing::Values(PacingCase{"Latency", 0, 150ms, 150ms},
                                           PacingCase{"Baud1200", 1200, 0ms, 390ms},
                                           PacingCase{"BaudAndLatency", 2400, 100ms, 229ms}),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fieldkit::sim
