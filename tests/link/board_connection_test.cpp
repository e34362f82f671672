#include "link/board_connection.h"
#include "tests/support/fake_clock.h"
#include "tests/support/memory_link.h"
#include "tests/support/recording_link.h"
#include "tests/support/recording_notices.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace fieldkit::link {
namespace {

using Calls = std::vector<std::string>;

const std::string kInit = "BriskDllInit QM7731 ZZQ83LKW4PXT0B 52 52";
const std::string kPause = "pause 200";

class BoardConnectionTest : public ::testing::Test {
protected:
    std::optional<ConnectionFailure> openForUpgrade() { return connection.open(1, true, &notices); }
    std::optional<ConnectionFailure> openForBoardInformation() { return connection.open(1, false, nullptr); }

    testing::FakeClock clock;
    testing::RecordingNotices notices;
    testing::MemoryLink board;
    testing::RecordingLink link{board, &clock};
    BoardConnection connection{link, clock};
};

TEST_F(BoardConnectionTest, UpgradeOpensWithThreeTimerWordsSetAStatusTextAndAPauseAfterThePing)
{
    EXPECT_EQ(openForUpgrade(), std::nullopt);
    EXPECT_EQ(link.lines(), (Calls{kInit, "ReadTimers", "ConfigureTimers", "OpenPort 1", "ClosePort", "Ping 1", kPause,
                                   "OpenPort 1"}));
    // Words 0, 1 and 8 as the connection wants them, the rest exactly as the link handed them out.
    EXPECT_EQ(link.configuredTimers.words, (std::array<std::uint32_t, 10>{50, 200, 102, 103, 104, 105, 106, 107, 7, 109}));
    EXPECT_EQ(notices.statusTexts(), std::vector<std::string>{"Verifying the option board"});
    EXPECT_TRUE(connection.identity().portOpen);
}

TEST_F(BoardConnectionTest, NoStatusTextGoesToAWindowThatIsGone)
{
    testing::RecordingNotices windowless(false);
    EXPECT_EQ(connection.open(1, true, &windowless), std::nullopt);
    EXPECT_TRUE(windowless.notices.empty());
}

struct OpenFailureCase {
    std::string failingCall;
    FailureKind kind;
    std::string message;
    Calls calls;
};

void PrintTo(const OpenFailureCase& c, std::ostream* os) { *os << c.failingCall; }

class BoardConnectionOpenFailure : public BoardConnectionTest, public ::testing::WithParamInterface<OpenFailureCase> {};

TEST_P(BoardConnectionOpenFailure, StopsAtTheFailingStepWithItsMessageAndLeavesNothingToClose)
{
    const OpenFailureCase& c = GetParam();
    link.failing = {c.failingCall};
    EXPECT_EQ(openForUpgrade(), (ConnectionFailure{c.kind, c.message}));
    EXPECT_FALSE(connection.identity().portOpen);

    connection.close();
    connection.close();
    EXPECT_EQ(link.lines(), c.calls);
}

const Calls kUpToProbe{kInit, "ReadTimers", "ConfigureTimers", "OpenPort 1"};
Calls upToProbeAnd(const Calls& more)
{
    Calls calls = kUpToProbe;
    calls.insert(calls.end(), more.begin(), more.end());
    return calls;
}

INSTANTIATE_TEST_SUITE_P(
    Steps, BoardConnectionOpenFailure,
    ::testing::Values(
        OpenFailureCase{kInit, FailureKind::LinkInit, "Failed to initialize the board link", {kInit}},
        OpenFailureCase{"ReadTimers", FailureKind::ReadTimers, "Failed to read timers", {kInit, "ReadTimers"}},
        OpenFailureCase{"ConfigureTimers", FailureKind::ConfigureTimers, "Failed to configure timers", {kInit, "ReadTimers", "ConfigureTimers"}},
        OpenFailureCase{"OpenPort 1#1", FailureKind::OpenPort, "Failed to open serial port", kUpToProbe},
        // The pause after the ping comes whatever its result; the probe closed its own port.
        OpenFailureCase{"Ping 1", FailureKind::Ping,
                        "Failed to communicate with the option board.\n\nPlease switch the radio to a Lodestar zone.",
                        upToProbeAnd({"ClosePort", "Ping 1", kPause})},
        OpenFailureCase{"OpenPort 1#2", FailureKind::OpenPort, "Failed to open serial port",
                        upToProbeAnd({"ClosePort", "Ping 1", kPause, "OpenPort 1"})}));

TEST_F(BoardConnectionTest, ClosePortIsCalledOnceForAnOpenConnectionWhateverClosesIt)
{
    {
        BoardConnection closedTwice(link, clock);
        ASSERT_EQ(closedTwice.open(2, false, nullptr), std::nullopt);
        closedTwice.close();
        closedTwice.close();
    }
    EXPECT_EQ(link.closePortCalls(), 2); // the probe's and the connection's
    {
        BoardConnection leftOpen(link, clock);
        ASSERT_EQ(leftOpen.open(2, false, nullptr), std::nullopt);
    }
    EXPECT_EQ(link.closePortCalls(), 4);
    EXPECT_EQ(link.lines().back(), "ClosePort");
}

struct IdentityCase {
    std::array<std::uint8_t, 5> bytes2To6;
    std::uint32_t bandEdgeFrequency;
    int band;
    int variantBit;
    int configVariant;
};

void PrintTo(const IdentityCase& c, std::ostream* os) { *os << c.bandEdgeFrequency << " flag " << int(c.bytes2To6[0]); }

class IdentityBlock : public BoardConnectionTest, public ::testing::WithParamInterface<IdentityCase> {};

TEST_P(IdentityBlock, YieldsBandVariantAndConfigVariant)
{
    const IdentityCase& c = GetParam();
    std::vector<std::uint8_t> block(kIdentityBlockSize, 0xEE);
    std::copy(c.bytes2To6.begin(), c.bytes2To6.end(), block.begin() + 2);
    board.memory[ADDR_IDENTITY_BLOCK] = block;
    ASSERT_EQ(openForUpgrade(), std::nullopt);

    connection.readIdentityBlock();
    const BoardIdentity& identity = connection.identity();
    EXPECT_EQ(identity.bandEdgeFrequency, c.bandEdgeFrequency);
    EXPECT_EQ(identity.band, c.band);
    EXPECT_EQ(identity.variantBit, c.variantBit);
    EXPECT_EQ(identity.configVariant, c.configVariant);
    EXPECT_TRUE(identity.boardChecksEnabled);
    const Calls calls = link.lines();
    EXPECT_EQ(Calls(calls.end() - 2, calls.end()), (Calls{"Read 1 0x2600 23", kPause}));
}

INSTANTIATE_TEST_SUITE_P(
    Table, IdentityBlock,
    ::testing::Values(IdentityCase{{0x00, 0x18, 0x05, 0x4A, 0xC0}, 403000000, 0, 0, 0},
                      IdentityCase{{0x01, 0x0C, 0xEF, 0x28, 0x40}, 217000000, 1, 1, 3},
                      IdentityCase{{0x80, 0x2C, 0x77, 0x0E, 0x80}, 746000000, 2, 1, 5},
                      IdentityCase{{0x00, 0x2D, 0x6B, 0x32, 0x80}, 762000000, 2, 0, 4},
                      IdentityCase{{0xFF, 0x2F, 0x34, 0xF6, 0x00}, 792000000, 2, 1, 5},
                      IdentityCase{{0x00, 0x08, 0x1B, 0x32, 0x00}, 136000000, 3, 0, 6},
                      // The same bytes least significant first match nothing.
                      IdentityCase{{0x00, 0x00, 0x32, 0x1B, 0x08}, 0x00321B08, 0, 0, 0},
                      IdentityCase{{0x01, 0xFF, 0xFF, 0xFF, 0xFF}, 0xFFFFFFFF, 0, 1, 1}));

TEST_F(BoardConnectionTest, AnUnreadableIdentityBlockGivesVariantZeroAndSwitchesBoardChecksOff)
{
    link.failing = {"Read 1 0x2600 23"};
    ASSERT_EQ(openForUpgrade(), std::nullopt);
    connection.readIdentityBlock();
    const BoardIdentity& identity = connection.identity();
    EXPECT_EQ(identity.band, 0);
    EXPECT_EQ(identity.variantBit, 0);
    EXPECT_EQ(identity.configVariant, 0);
    EXPECT_FALSE(identity.boardChecksEnabled);
    EXPECT_EQ(link.lines().back(), kPause);
}

struct VersionCase {
    const char* name;
    std::optional<std::vector<std::uint8_t>> answer15; // nullopt: the 15-byte read fails
    std::optional<std::vector<std::uint8_t>> answer13; // nullopt: the 13-byte read fails
    bool trim;
    std::string text;
    bool ok;
};

void PrintTo(const VersionCase& c, std::ostream* os) { *os << c.name; }

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

const auto kSpacedVersion = bytesOf(std::string_view("AB1.2  \0xxxxxxx", 15)); // five characters, two spaces, NUL

class FirmwareVersion : public BoardConnectionTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(FirmwareVersion, TakesTheLeadingPrintableRunOfAtMost13Characters)
{
    const VersionCase& c = GetParam();
    if (!c.answer15)
        link.failing.insert("Read 1 0x0D00 15");
    if (!c.answer13)
        link.failing.insert("Read 1 0x0D00 13");
    board.memory[ADDR_FIRMWARE_VERSION] = c.answer15 ? *c.answer15 : c.answer13.value_or(std::vector<std::uint8_t>{});
    ASSERT_EQ(openForBoardInformation(), std::nullopt);

    EXPECT_EQ(connection.readFirmwareVersion(c.trim), c.ok);
    EXPECT_EQ(connection.identity().boardVersionText, c.text);
    const Calls calls = link.lines();
    const Calls reads = c.answer15 ? Calls{"Read 1 0x0D00 15"} : Calls{"Read 1 0x0D00 15", "Read 1 0x0D00 13"};
    EXPECT_EQ(Calls(calls.end() - static_cast<std::ptrdiff_t>(reads.size()), calls.end()), reads);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, FirmwareVersion,
    ::testing::Values(VersionCase{"FifteenPrintable", bytesOf("ABCDEFGHIJKLMNO"), {}, false, "ABCDEFGHIJKLM", true},
                      VersionCase{"FirstByteNul", std::vector<std::uint8_t>(15, 0), {}, true, "", true},
                      VersionCase{"SpacesKept", kSpacedVersion, {}, false, "AB1.2  ", true},
                      VersionCase{"SpacesTrimmed", kSpacedVersion, {}, true, "AB1.2", true},
                      VersionCase{"ControlByteEnds", bytesOf("R4\x01" "5.0xxxxxxxxxx"), {}, false, "R4", true},
                      VersionCase{"HighByteEnds", bytesOf("R4\xC0" "5.0xxxxxxxxxx"), {}, false, "R4", true},
                      VersionCase{"SecondTrySucceeds", std::nullopt, bytesOf("V2.10 "), true, "V2.10", true},
                      VersionCase{"BothTriesFail", std::nullopt, std::nullopt, false, "", false}),
    [](const auto& info) { return std::string(info.param.name); });

struct EsnCase {
    std::array<std::uint8_t, 4> bytes;
    std::uint32_t esn;
    std::string text;
};

void PrintTo(const EsnCase& c, std::ostream* os) { *os << c.text; }

class Esn : public BoardConnectionTest, public ::testing::WithParamInterface<EsnCase> {};

TEST_P(Esn, IsLittleEndianAndShownAsSignedDecimal)
{
    const EsnCase& c = GetParam();
    board.memory[ADDR_ESN] = {c.bytes.begin(), c.bytes.end()};
    ASSERT_EQ(openForBoardInformation(), std::nullopt);
    EXPECT_TRUE(connection.readEsn());
    EXPECT_EQ(connection.identity().esn, c.esn);
    EXPECT_EQ(connection.identity().esnText, c.text);
}

INSTANTIATE_TEST_SUITE_P(Values, Esn,
                         ::testing::Values(EsnCase{{0x01, 0x00, 0x00, 0x80}, 2147483649u, "-2147483647"},
                                           EsnCase{{0xFF, 0xFF, 0xFF, 0xFF}, 4294967295u, "-1"},
                                           EsnCase{{0xFF, 0xFF, 0xFF, 0x7F}, 2147483647u, "2147483647"},
                                           EsnCase{{0x78, 0x56, 0x34, 0x12}, 0x12345678u, "305419896"}));

TEST_F(BoardConnectionTest, AnUnreadableEsnIsAFailure)
{
    link.failing = {"Read 1 0x0500 4"};
    ASSERT_EQ(openForBoardInformation(), std::nullopt);
    EXPECT_FALSE(connection.readEsn());
    EXPECT_TRUE(connection.identity().esnText.empty());
}

TEST_F(BoardConnectionTest, UpgradePausesAfterThePingAndEveryRead)
{
    link.failing = {"Read 1 0x4100 52", "Read 1 0x0D00 15"};
    board.memory[ADDR_FIRMWARE_VERSION] = bytesOf("V1.00        ");
    ASSERT_EQ(openForUpgrade(), std::nullopt);
    connection.readIdentityBlock();
    std::array<std::uint8_t, kParameterBlockSize> parameters{};
    EXPECT_FALSE(connection.read(ADDR_PARAMETER_BLOCK, parameters));
    EXPECT_TRUE(connection.readEsn());
    EXPECT_TRUE(connection.readFirmwareVersion(true));
    EXPECT_EQ(connection.identity().boardVersionText, "V1.00");
    connection.close();

    const Calls calls = link.lines();
    EXPECT_EQ(Calls(calls.begin() + 5, calls.end()),
              (Calls{"Ping 1", kPause, "OpenPort 1", "Read 1 0x2600 23", kPause, "Read 1 0x4100 52", kPause,
                     "Read 1 0x0500 4", kPause, "Read 1 0x0D00 15", kPause, "Read 1 0x0D00 13", kPause, "ClosePort"}));
    EXPECT_EQ(clock.pauses, std::vector<std::chrono::milliseconds>(6, kBoardReadPause));
}

TEST_F(BoardConnectionTest, BoardInformationReadsVersionThenEsnWithoutPauses)
{
    board.memory[ADDR_FIRMWARE_VERSION] = bytesOf("V1.00  ");
    board.memory[ADDR_ESN] = {0x01, 0x00, 0x00, 0x80};
    ASSERT_EQ(openForBoardInformation(), std::nullopt);
    EXPECT_TRUE(connection.readFirmwareVersion(false));
    EXPECT_TRUE(connection.readEsn());
    connection.close();

    EXPECT_EQ(link.lines(), (Calls{kInit, "ReadTimers", "ConfigureTimers", "OpenPort 1", "ClosePort", "Ping 1",
                                   "OpenPort 1", "Read 1 0x0D00 15", "Read 1 0x0500 4", "ClosePort"}));
    EXPECT_EQ(connection.identity().boardVersionText, "V1.00  ");
    EXPECT_EQ(connection.identity().esnText, "-2147483647");
    EXPECT_TRUE(clock.pauses.empty());
}

} // namespace
} // namespace fieldkit::link
