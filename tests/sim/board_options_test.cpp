#include "sim/board_options.h"

#include <gtest/gtest.h>

#include <functional>

namespace fieldkit::sim {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct GoodLine {
    const char* name;
    friend void PrintTo(const GoodLine& c, std::ostream* out) { *out << c.name; }
    std::vector<std::string> args;
    std::function<void(const BoardOptions&)> check;
};

class GoodOptionLine : public ::testing::TestWithParam<GoodLine> {};

TEST_P(GoodOptionLine, IsTakenAsWritten)
{
    GetParam().check(parseBoardOptions(GetParam().args));
}

INSTANTIATE_TEST_SUITE_P(
    BoardOptions, GoodOptionLine,
    ::testing::Values(
        GoodLine{"Defaults",
                 {},
                 [](const BoardOptions& o) {
                     EXPECT_EQ(o.esn, 0x1E3A5C71u);
                     const auto version = o.versionAnswer();
                     EXPECT_EQ(Bytes(version.begin(), version.begin() + 10),
                               (Bytes{'R', '0', '7', '.', '1', '2', '.', '0', '0', 0x00}));
                     EXPECT_TRUE(o.answerPing);
                     EXPECT_EQ(o.noiseOneIn, 0u);
                     EXPECT_EQ(o.baud, 0u);
                     EXPECT_FALSE(o.deadAfterBytes.has_value());
                     EXPECT_TRUE(o.linkPath.empty() && o.devicePath.empty());
                 }},
        GoodLine{"EsnInHex", {"--esn", "0xFFFFFFFF"}, [](const BoardOptions& o) { EXPECT_EQ(o.esn, 0xFFFFFFFFu); }},
        GoodLine{"VersionTextOf15Characters",
                 {"--version", "ABCDEFGHIJKLMNO"},
                 [](const BoardOptions& o) { EXPECT_EQ(o.versionAnswer().back(), 'O'); }},
        GoodLine{"VersionHexWithColons",
                 {"--version-hex", "41:42:00:ff"},
                 [](const BoardOptions& o) {
                     const auto version = o.versionAnswer();
                     EXPECT_EQ(Bytes(version.begin(), version.begin() + 5), (Bytes{0x41, 0x42, 0x00, 0xFF, 0x00}));
                 }},
        GoodLine{"BandEdgeAndVariantFlag",
                 {"--band-edge", "136000000", "--variant-flag", "0x80"},
                 [](const BoardOptions& o) {
                     const auto block = o.identityBlock();
                     EXPECT_EQ(Bytes(block.begin() + 2, block.begin() + 7), (Bytes{0x80, 0x08, 0x1B, 0x32, 0x00}));
                 }},
        GoodLine{"IdentityHexKeepsItsOwnBandEdge",
                 {"--identity-hex", "0102 80 2C770E80 ff"},
                 [](const BoardOptions& o) {
                     const auto block = o.identityBlock();
                     EXPECT_EQ(Bytes(block.begin(), block.begin() + 9),
                               (Bytes{0x01, 0x02, 0x80, 0x2C, 0x77, 0x0E, 0x80, 0xFF, 0x00}));
                 }},
        GoodLine{"ParameterBlockIsZeroPadded",
                 {"--param-block", "AABB"},
                 [](const BoardOptions& o) {
                     const auto block = o.parameterBlock();
                     ASSERT_EQ(block.size(), 52u);
                     EXPECT_EQ(Bytes(block.begin(), block.begin() + 3), (Bytes{0xAA, 0xBB, 0x00}));
                 }},
        GoodLine{"DefaultParameterBlockCarriesTheEsnAndItsComplement",
                 {"--esn", "0x12345678"},
                 [](const BoardOptions& o) {
                     const auto block = o.parameterBlock();
                     ASSERT_EQ(block.size(), 52u);
                     EXPECT_EQ(Bytes(block.begin(), block.begin() + 9),
                               (Bytes{0x78, 0x56, 0x34, 0x12, 0x87, 0xA9, 0xCB, 0xED, 0x88}));
                 }},
        GoodLine{"NoPing", {"--no-ping"}, [](const BoardOptions& o) { EXPECT_FALSE(o.answerPing); }},
        GoodLine{"RepeatedFaults",
                 {"--fail-read", "0x0500", "--fail-read", "9728", "--fail-read-len", "0x0D00:15", "--fail-command",
                  "0x1201", "--fail-command", "0x1118", "--reject-verify", "boot", "--reject-verify", "app"},
                 [](const BoardOptions& o) {
                     EXPECT_EQ(o.failReads, (std::set<std::uint16_t>{0x0500, 0x2600}));
                     EXPECT_EQ(o.failReadLengths, (std::set<std::pair<std::uint16_t, std::size_t>>{{0x0D00, 15}}));
                     EXPECT_EQ(o.failCommands, (std::set<std::uint16_t>{0x1201, 0x1118}));
                     EXPECT_EQ(o.rejectVerify, (std::set<VerifyTarget>{VerifyTarget::Boot, VerifyTarget::Application}));
                 }},
        GoodLine{"PageWriteFaultsEverywhereAndAtOnePage",
                 {"--fail-page-writes", "1", "--fail-page-writes", "3@0xA1200"},
                 [](const BoardOptions& o) {
                     EXPECT_EQ(o.failEveryPageWrite, 1u);
                     EXPECT_EQ(o.failPageWriteAt, (std::map<std::uint32_t, unsigned>{{0xA1200, 3}}));
                 }},
        GoodLine{"LineFaults",
                 {"--noise", "100", "--drop", "0x20", "--dead-after", "0", "--seed", "4294967295"},
                 [](const BoardOptions& o) {
                     EXPECT_EQ(o.noiseOneIn, 100u);
                     EXPECT_EQ(o.dropOneIn, 32u);
                     EXPECT_EQ(o.deadAfterBytes, 0u);
                     EXPECT_EQ(o.seed, 0xFFFFFFFFu);
                 }},
        GoodLine{"Pacing",
                 {"--baud", "9600", "--latency", "16"},
                 [](const BoardOptions& o) {
                     EXPECT_EQ(o.baud, 9600u);
                     EXPECT_EQ(o.latency, std::chrono::milliseconds(16));
                 }},
        GoodLine{"Paths",
                 {"--link", "/tmp/lodestar", "--flash", "in.bin", "--dump-flash", "out.bin", "--request-log", "log"},
                 [](const BoardOptions& o) {
                     EXPECT_EQ(o.linkPath, "/tmp/lodestar");
                     EXPECT_EQ(o.flashFile, "in.bin");
                     EXPECT_EQ(o.dumpFlashFile, "out.bin");
                     EXPECT_EQ(o.requestLogFile, "log");
                 }}),
    [](const auto& info) { return std::string(info.param.name); });

struct BadLine {
    const char* name;
    friend void PrintTo(const BadLine& c, std::ostream* out) { *out << c.name; }
    std::vector<std::string> args;
    const char* mentions; // the message names what is wrong
};

class BadOptionLine : public ::testing::TestWithParam<BadLine> {};

TEST_P(BadOptionLine, IsRefusedWithAMessageThatSaysWhy)
{
    try {
        parseBoardOptions(GetParam().args);
        FAIL() << "accepted";
    } catch (const BadBoardOptions& error) {
        // One line for a command line that passes the options on, the usage for lodestar-sim.
        EXPECT_NE(error.reason().find(GetParam().mentions), std::string::npos) << error.reason();
        EXPECT_EQ(error.reason().find('\n'), std::string::npos) << error.reason();
        EXPECT_NE(std::string(error.what()).find("Usage:"), std::string::npos) << error.what();
    }
}

INSTANTIATE_TEST_SUITE_P(
    BoardOptions, BadOptionLine,
    ::testing::Values(
        BadLine{"NegativeEsn", {"--esn", "-1"}, "--esn"}, BadLine{"EsnTooLarge", {"--esn", "0x100000000"}, "--esn"},
        BadLine{"EsnWithJunk", {"--esn", "12abc"}, "--esn"}, BadLine{"EsnHexPrefixOnly", {"--esn", "0x"}, "--esn"},
        BadLine{"EsnWithoutValue", {"--esn"}, "--esn"}, BadLine{"EsnTwice", {"--esn", "1", "--esn", "2"}, "--esn"},
        BadLine{"VersionOf16Characters", {"--version", "ABCDEFGHIJKLMNOP"}, "--version"},
        BadLine{"VersionHexOddDigits", {"--version-hex", "414"}, "--version-hex"},
        BadLine{"VersionHexNotHex", {"--version-hex", "zz"}, "--version-hex"},
        BadLine{"VersionHexSeparatorInsideAByte", {"--version-hex", "4 1"}, "--version-hex"},
        BadLine{"VersionHexEmpty", {"--version-hex", ""}, "--version-hex"},
        BadLine{"VersionTextAndHex", {"--version", "A", "--version-hex", "41"}, "--version"},
        BadLine{"IdentityOf24Bytes", {"--identity-hex", std::string(48, 'A')}, "--identity-hex"},
        BadLine{"ParameterBlockOf53Bytes", {"--param-block", std::string(106, '0')}, "--param-block"},
        BadLine{"VariantFlagAboveAByte", {"--variant-flag", "256"}, "--variant-flag"},
        BadLine{"ReadAddressAbove16Bits", {"--fail-read", "0x10000"}, "--fail-read"},
        BadLine{"ReadLengthWithoutLength", {"--fail-read-len", "0x0D00"}, "--fail-read-len"},
        BadLine{"ReadLengthZero", {"--fail-read-len", "0x0D00:0"}, "--fail-read-len"},
        BadLine{"ReadLengthAbove256", {"--fail-read-len", "0x0D00:257"}, "--fail-read-len"},
        BadLine{"PageWriteFaultOfZero", {"--fail-page-writes", "0"}, "--fail-page-writes"},
        BadLine{"PageWriteFaultMisaligned", {"--fail-page-writes", "2@0xA1201"}, "--fail-page-writes"},
        BadLine{"PageWriteFaultOutsideFlash", {"--fail-page-writes", "2@0x100000"}, "--fail-page-writes"},
        BadLine{"PageWriteFaultWithoutCount", {"--fail-page-writes", "@0xA0000"}, "--fail-page-writes"},
        BadLine{"CommandWordAbove16Bits", {"--fail-command", "70000"}, "--fail-command"},
        BadLine{"VerifyTargetUnknown", {"--reject-verify", "both"}, "--reject-verify"},
        BadLine{"NoiseOfZero", {"--noise", "0"}, "--noise"}, BadLine{"DropOfZero", {"--drop", "0"}, "--drop"},
        BadLine{"BaudOfZero", {"--baud", "0"}, "--baud"},
        BadLine{"LatencyAboveAMinute", {"--latency", "60001"}, "--latency"},
        BadLine{"ProtocolVersionThree", {"--protocol", "3"}, "--protocol"},
        BadLine{"ReceiveBufferBeyondWhatThePingCanSay", {"--receive-buffer", "65536"}, "--receive-buffer"},
        BadLine{"LinkAndDevice", {"--link", "a", "--device", "b"}, "--device"},
        BadLine{"UnknownOption", {"--bogus"}, "--bogus"}, BadLine{"StrayWord", {"stray"}, "stray"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fieldkit::sim
