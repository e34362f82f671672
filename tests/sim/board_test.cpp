#include "sim/board.h"
#include "sim/flash_file.h"

#include "tests/sim/sim_test_support.h"

#include <gtest/gtest.h>

#include <fstream>

namespace fieldkit::sim {
namespace {

constexpr std::uint32_t kPageAt = 0xA1200;

// The checksum the host sends: the 16-bit sum of the bytes, negated.
std::uint16_t expectedChecksum(std::uint64_t byteSum)
{
    return static_cast<std::uint16_t>((0x10000 - byteSum % 0x10000) % 0x10000);
}

std::span<const std::uint8_t> flashRange(const Board& board, std::uint32_t base, std::size_t size)
{
    return board.flash().subspan(base, size);
}

TEST(BoardFlash, StartsErasedWithOneMebibyteOfAddressSpace)
{
    Board board{BoardOptions{}};
    EXPECT_EQ(board.flash().size(), 0x100000u);
    EXPECT_TRUE(allBytesAre(board.flash(), 0xFF));
}

TEST(BoardFlash, StartsWithTheFlashFileAndRefusesOneOfTheWrongSize)
{
    TempDir dir;
    std::vector<std::uint8_t> content(kFlashSize);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 7);
    ASSERT_TRUE(writeFlashFile(dir.file("flash.bin"), content, nullptr));
    BoardOptions options;
    options.flashFile = dir.file("flash.bin");
    Board board{options};
    EXPECT_TRUE(std::equal(content.begin(), content.end(), board.flash().begin()));

    std::ofstream(dir.file("short.bin"), std::ios::binary) << "too short";
    options.flashFile = dir.file("short.bin");
    EXPECT_THROW(Board{options}, std::runtime_error);
    options.flashFile = dir.file("missing.bin");
    EXPECT_THROW(Board{options}, std::runtime_error);
}

TEST(BoardFlash, ProgrammingOnlyClearsBitsSoAMissedEraseReadsBackTheAnd)
{
    Board board{BoardOptions{}};
    BoardDriver host(board);
    ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));

    ASSERT_TRUE(host.writePage(kPageAt, filledPage(0xF0)));
    EXPECT_TRUE(allBytesAre(flashRange(board, kPageAt, kPageSize), 0xF0));
    ASSERT_TRUE(host.writePage(kPageAt, filledPage(0x3C)));
    EXPECT_TRUE(allBytesAre(flashRange(board, kPageAt, kPageSize), 0x30)); // 0xF0 AND 0x3C

    ASSERT_TRUE(host.command(CMD_ERASE_BLOCK + 0x1A));
    ASSERT_TRUE(host.writePage(kPageAt, filledPage(0x3C)));
    EXPECT_TRUE(allBytesAre(flashRange(board, kPageAt, kPageSize), 0x3C));
    EXPECT_TRUE(allBytesAre(flashRange(board, kPageAt - kPageSize, kPageSize), 0xFF));
    EXPECT_TRUE(allBytesAre(flashRange(board, kPageAt + kPageSize, kPageSize), 0xFF));
    EXPECT_EQ(board.counters().pagesProgrammed, 3u);
}

TEST(BoardFlash, EraseSetsExactlyItsOwn64KbBlockTo0xFF)
{
    Board board{BoardOptions{}};
    BoardDriver host(board);
    ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));
    for (std::uint32_t address : {0xAFF00u, 0xB0000u, 0xBFF00u, 0xC0000u})
        ASSERT_TRUE(host.writePage(address, filledPage(0x00)));

    ASSERT_TRUE(host.command(CMD_ERASE_BLOCK + 0x19)); // 0xB0000 to 0xBFFFF
    EXPECT_TRUE(allBytesAre(flashRange(board, 0xB0000, kBlockSize), 0xFF));
    EXPECT_TRUE(allBytesAre(flashRange(board, 0xAFF00, kPageSize), 0x00));
    EXPECT_TRUE(allBytesAre(flashRange(board, 0xC0000, kPageSize), 0x00));
    EXPECT_EQ(board.counters().blocksErased, 1u);
}

TEST(BoardFlash, EveryApplicationBlockCanBeSelectedErasedAndProgrammed)
{
    Board board{BoardOptions{}};
    BoardDriver host(board);
    ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));
    for (std::uint32_t base = 0xA0000; base <= 0xE0000; base += kBlockSize) {
        const std::uint32_t last = base + kBlockSize - kPageSize;
        EXPECT_TRUE(host.writePage(last, filledPage(0x11))) << std::hex << last;
        EXPECT_TRUE(host.command(static_cast<std::uint16_t>(CMD_ERASE_BLOCK + 0x1A - (base - 0xA0000) / kBlockSize)));
        EXPECT_TRUE(allBytesAre(flashRange(board, last, kPageSize), 0xFF)) << std::hex << last;
    }
}

struct CommitCase {
    const char* name;
    friend void PrintTo(const CommitCase& c, std::ostream* out) { *out << c.name; }
    bool programmingMode;
    bool earlierData; // a page's data taken before the select, which the commit must not program
    std::optional<std::uint16_t> select;
    std::size_t dataSize; // 256 is taken, any other size refused, 0 sends none
    std::optional<std::uint16_t> between; // a command between the data and the commit
    std::vector<std::uint8_t> record;
};

class CommitRefusal : public ::testing::TestWithParam<CommitCase> {};

TEST_P(CommitRefusal, IsAnsweredWithNakAndProgramsNothing)
{
    const CommitCase& c = GetParam();
    Board board{BoardOptions{}};
    BoardDriver host(board);
    if (c.programmingMode) {
        ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));
    }
    if (c.earlierData)
        host.write(ADDR_PAGE_DATA, filledPage(0x00));
    if (c.select)
        host.command(*c.select);
    if (c.dataSize != 0)
        host.write(ADDR_PAGE_DATA, std::vector<std::uint8_t>(c.dataSize, 0x00));
    if (c.between)
        host.command(*c.between);

    EXPECT_FALSE(host.write(ADDR_PAGE_COMMIT, c.record));
    EXPECT_TRUE(allBytesAre(board.flash(), 0xFF));
    EXPECT_EQ(board.counters().pagesProgrammed, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Board, CommitRefusal,
    ::testing::Values(
        CommitCase{"NotInProgrammingMode", false, false, 0x011A, 256, std::nullopt, commitRecord(0xA0000)},
        CommitCase{"MisalignedAddress", true, false, 0x011A, 256, std::nullopt, commitRecord(0xA0080)},
        CommitCase{"OutsideTheSelectedBlock", true, false, 0x011A, 256, std::nullopt, commitRecord(0xB0000)},
        CommitCase{"BelowTheSelectedBlock", true, false, 0x0119, 256, std::nullopt, commitRecord(0xAFF00)},
        CommitCase{"NoPageDataPending", true, false, 0x011A, 0, std::nullopt, commitRecord(0xA0000)},
        CommitCase{"NoBlockSelected", true, false, std::nullopt, 256, std::nullopt, commitRecord(0xA0000)},
        CommitCase{"DataBeforeTheSelect", true, true, 0x011A, 0, std::nullopt, commitRecord(0xA0000)},
        CommitCase{"RefusedDataAfterAnEarlierPagesData", true, true, 0x011A, 255, std::nullopt, commitRecord(0xA0000)},
        CommitCase{"SelectRefusedAfterAnEarlierPagesData", true, true, 0x0115, 256, std::nullopt,
                   commitRecord(0xA0000)},
        CommitCase{"ARequestBetweenDataAndCommit", true, false, 0x011A, 256, 0x1119, commitRecord(0xA0000)},
        CommitCase{"BadMagic", true, false, 0x011A, 256, std::nullopt, {0x0A, 0x0B, 0x0D, 0x00, 0x00, 0x0A}},
        CommitCase{"RecordTooShort", true, false, 0x011A, 256, std::nullopt, {0x0A, 0x0B, 0x0C, 0x00, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

struct RefusedWriteCase {
    const char* name;
    friend void PrintTo(const RefusedWriteCase& c, std::ostream* out) { *out << c.name; }
    bool programmingMode;
    std::uint16_t word;
    std::vector<std::uint8_t> data;
};

class RefusedWrite : public ::testing::TestWithParam<RefusedWriteCase> {};

TEST_P(RefusedWrite, IsAnsweredWithNakAndChangesNothing)
{
    const RefusedWriteCase& c = GetParam();
    Board board{BoardOptions{}};
    BoardDriver host(board);
    if (c.programmingMode) {
        ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));
    }
    ASSERT_TRUE(host.writePage(0xA0000, filledPage(0x00)) || !c.programmingMode);

    EXPECT_FALSE(host.write(c.word, c.data));
    EXPECT_EQ(board.inProgrammingMode(), c.programmingMode);
    EXPECT_TRUE(allBytesAre(flashRange(board, 0xA0000, kPageSize), c.programmingMode ? 0x00 : 0xFF));
    EXPECT_EQ(host.read(ADDR_VERIFY_STATUS, 2), (std::vector<std::uint8_t>{0x00, 0x00}));
}

INSTANTIATE_TEST_SUITE_P(Board, RefusedWrite,
                         ::testing::Values(
                             // The flash is guarded until programming mode is entered.
                             RefusedWriteCase{"SelectBeforeProgrammingMode", false, 0x011A, {0x00}},
                             RefusedWriteCase{"PageDataBeforeProgrammingMode", false, ADDR_PAGE_DATA, filledPage(0x00)},
                             RefusedWriteCase{"EraseBeforeProgrammingMode", false, 0x111A, {0x00}},
                             RefusedWriteCase{"BootVerifyBeforeProgrammingMode", false, CMD_VERIFY_BOOT, {0x40, 0x00}},
                             RefusedWriteCase{"AppVerifyBeforeProgrammingMode", false, CMD_VERIFY_APP, {0x00, 0x00}},
                             RefusedWriteCase{"BootCopyBeforeProgrammingMode", false, CMD_BOOT_COPY, {0x00}},
                             // Unknown words and wrong lengths.
                             RefusedWriteCase{"UnknownCommandWord", true, 0x2222, {0x00}},
                             RefusedWriteCase{"WriteToAReadAddress", true, ADDR_ESN, {0x01, 0x02, 0x03, 0x04}},
                             RefusedWriteCase{"BlockOutsideTheTableSelected", true, 0x0115, {0x00}},
                             RefusedWriteCase{"BlockOutsideTheTableErased", true, 0x111B, {0x00}},
                             RefusedWriteCase{"ProgrammingModeWithTwoBytes", true, CMD_PROGRAMMING_MODE, {0x00, 0x00}},
                             RefusedWriteCase{"SelectWithTwoBytes", true, 0x011A, {0x00, 0x00}},
                             RefusedWriteCase{"EraseWithTwoBytes", true, 0x111A, {0x00, 0x00}},
                             RefusedWriteCase{"ShortPageData", true, ADDR_PAGE_DATA,
                                              std::vector<std::uint8_t>(255, 0x00)},
                             RefusedWriteCase{"VerifyWithOneByte", true, CMD_VERIFY_BOOT, {0x40}},
                             RefusedWriteCase{"VerifyWithThreeBytes", true, CMD_VERIFY_APP, {0x00, 0x00, 0x00}},
                             RefusedWriteCase{"BootCopyWithTwoBytes", true, CMD_BOOT_COPY, {0x00, 0x00}},
                             RefusedWriteCase{"FinishWithTwoBytes", true, CMD_FINISH, {0x00, 0x00}}),
                         [](const auto& info) { return std::string(info.param.name); });

struct VerifyCase {
    const char* name;
    friend void PrintTo(const VerifyCase& c, std::ostream* out) { *out << c.name; }
    std::uint16_t word;
    std::uint16_t checksum;
    std::set<VerifyTarget> reject;
    std::uint8_t status;
};

class VerifyStatus : public ::testing::TestWithParam<VerifyCase> {};

// On an erased board the temporary area (0x4000 bytes of 0xFF) sums to checksum 0x4000 and
// the application area (0x50000 bytes of 0xFF) to 0x0000.
TEST_P(VerifyStatus, TheNextStatusReadCarriesTheVerdictInBit3)
{
    const VerifyCase& c = GetParam();
    BoardOptions options;
    options.rejectVerify = c.reject;
    Board board{options};
    BoardDriver host(board);
    ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));
    EXPECT_EQ(host.read(ADDR_VERIFY_STATUS, 2), (std::vector<std::uint8_t>{0x00, 0x00}));

    EXPECT_TRUE(host.verify(c.word, c.checksum));
    EXPECT_EQ(host.read(ADDR_VERIFY_STATUS, 2), (std::vector<std::uint8_t>{c.status, 0x00}));
}

INSTANTIATE_TEST_SUITE_P(
    Board, VerifyStatus,
    ::testing::Values(VerifyCase{"BootMatch", CMD_VERIFY_BOOT, 0x4000, {}, 0x00},
                      VerifyCase{"BootMismatch", CMD_VERIFY_BOOT, 0x4001, {}, 0x08},
                      VerifyCase{"BootChecksumIsReadHighByteFirst", CMD_VERIFY_BOOT, 0x0040, {}, 0x08},
                      VerifyCase{"AppMatch", CMD_VERIFY_APP, 0x0000, {}, 0x00},
                      VerifyCase{"AppMismatch", CMD_VERIFY_APP, 0x4000, {}, 0x08},
                      VerifyCase{"BootRejected", CMD_VERIFY_BOOT, 0x4000, {VerifyTarget::Boot}, 0x08},
                      VerifyCase{"AppUnaffectedByBootReject", CMD_VERIFY_APP, 0x0000, {VerifyTarget::Boot}, 0x00},
                      VerifyCase{"AppRejected", CMD_VERIFY_APP, 0x0000, {VerifyTarget::Application}, 0x08}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BoardVerify, SumsExactlyTheTemporaryAreaOrTheApplicationArea)
{
    Board board{BoardOptions{}};
    BoardDriver host(board);
    ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));
    ASSERT_TRUE(host.writePage(0xA3F00, countingPage()));   // last page of the temporary area
    ASSERT_TRUE(host.writePage(0xA4000, filledPage(0x00))); // first page after it
    ASSERT_TRUE(host.writePage(0xEFF00, filledPage(0x01))); // last page of the application area

    const std::uint64_t countingSum = 255 * 256 / 2;
    const std::uint16_t boot = expectedChecksum(0x3F00 * 0xFFull + countingSum);
    const std::uint16_t app = expectedChecksum((0x50000 - 3 * 0x100) * 0xFFull + countingSum + 0x100);

    ASSERT_TRUE(host.verify(CMD_VERIFY_BOOT, boot));
    EXPECT_EQ(host.read(ADDR_VERIFY_STATUS, 2)->front(), 0x00);
    ASSERT_TRUE(host.verify(CMD_VERIFY_APP, app));
    EXPECT_EQ(host.read(ADDR_VERIFY_STATUS, 2)->front(), 0x00);
    ASSERT_TRUE(host.verify(CMD_VERIFY_APP, static_cast<std::uint16_t>(app + 1)));
    EXPECT_EQ(host.read(ADDR_VERIFY_STATUS, 2)->front(), 0x08);
}

// Boot code in the temporary area, already checked by the board, ready to be copied.
class BoardBootCopy : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::vector<std::uint8_t> flash(kFlashSize, 0xFF);
        std::fill_n(flash.begin() + kBootAreaBase, kBootAreaSize, 0x00); // the old boot code
        ASSERT_TRUE(writeFlashFile(dir.file("flash.bin"), flash, nullptr));
        options.flashFile = dir.file("flash.bin");
        board.emplace(options);
        host.emplace(*board);
        ASSERT_TRUE(host->command(CMD_PROGRAMMING_MODE));
        std::uint64_t sum = 0;
        for (std::uint32_t offset = 0; offset < kBootAreaSize; offset += kPageSize) {
            auto page = countingPage();
            page[0] = static_cast<std::uint8_t>(offset >> 8); // every page differs
            for (std::uint8_t byte : page)
                sum += byte;
            ASSERT_TRUE(host->writePage(kTemporaryAreaBase + offset, page));
        }
        bootChecksum = expectedChecksum(sum);
        newBootCode.assign(board->flash().begin() + kTemporaryAreaBase,
                           board->flash().begin() + kTemporaryAreaBase + kBootAreaSize);
    }

    bool bootAreaIsOld() const { return allBytesAre(flashRange(*board, kBootAreaBase, kBootAreaSize), 0x00); }

    TempDir dir;
    BoardOptions options;
    std::optional<Board> board;
    std::optional<BoardDriver> host;
    std::uint16_t bootChecksum = 0;
    std::vector<std::uint8_t> newBootCode;
};

TEST_F(BoardBootCopy, ReplacesTheBootAreaWithTheVerifiedCodeAndErasesTheTemporaryArea)
{
    ASSERT_TRUE(host->verify(CMD_VERIFY_BOOT, bootChecksum));
    ASSERT_TRUE(host->command(CMD_BOOT_COPY));

    const auto bootArea = flashRange(*board, kBootAreaBase, kBootAreaSize);
    EXPECT_TRUE(std::equal(bootArea.begin(), bootArea.end(), newBootCode.begin())); // replaced, not ANDed
    EXPECT_TRUE(allBytesAre(flashRange(*board, kTemporaryAreaBase, kBootAreaSize), 0xFF));
    EXPECT_TRUE(allBytesAre(flashRange(*board, 0xF0000, 0xC000), 0xFF));
}

TEST_F(BoardBootCopy, IsRefusedWithoutAVerify)
{
    EXPECT_FALSE(host->command(CMD_BOOT_COPY));
    EXPECT_TRUE(bootAreaIsOld());
}

TEST_F(BoardBootCopy, IsRefusedAfterAMismatchedVerify)
{
    ASSERT_TRUE(host->verify(CMD_VERIFY_BOOT, static_cast<std::uint16_t>(bootChecksum ^ 0x0100)));
    EXPECT_FALSE(host->command(CMD_BOOT_COPY));
    EXPECT_TRUE(bootAreaIsOld());
}

TEST_F(BoardBootCopy, IsRefusedWhenTheBoardRejectsEveryBootVerify)
{
    options.rejectVerify = {VerifyTarget::Boot};
    SetUp();
    ASSERT_TRUE(host->verify(CMD_VERIFY_BOOT, bootChecksum));
    EXPECT_FALSE(host->command(CMD_BOOT_COPY));
    EXPECT_TRUE(bootAreaIsOld());
}

TEST_F(BoardBootCopy, IsRefusedWhenTheTemporaryAreaChangedAfterTheVerify)
{
    ASSERT_TRUE(host->verify(CMD_VERIFY_BOOT, bootChecksum));
    ASSERT_TRUE(host->writePage(kTemporaryAreaBase, filledPage(0x00)));
    EXPECT_FALSE(host->command(CMD_BOOT_COPY));
    EXPECT_TRUE(bootAreaIsOld());
}

struct ReadCase {
    const char* name;
    friend void PrintTo(const ReadCase& c, std::ostream* out) { *out << c.name; }
    std::uint16_t address;
    std::size_t count;
    std::optional<std::vector<std::uint8_t>> data; // nothing: refused
};

std::vector<std::uint8_t> defaultIdentity()
{
    std::vector<std::uint8_t> block(23, 0x00);
    block[3] = 0x18; // 403000000, most significant byte first
    block[4] = 0x05;
    block[5] = 0x4A;
    block[6] = 0xC0;
    return block;
}

std::vector<std::uint8_t> defaultParameters()
{
    // The default ESN and its complement, then the counting pattern.
    std::vector<std::uint8_t> block{0x71, 0x5C, 0x3A, 0x1E, 0x8E, 0xA3, 0xC5, 0xE1};
    for (std::size_t i = block.size(); i < 52; ++i)
        block.push_back(static_cast<std::uint8_t>(0x80 + i));
    return block;
}

std::vector<std::uint8_t> text(std::string_view characters, std::size_t size)
{
    std::vector<std::uint8_t> bytes(characters.begin(), characters.end());
    bytes.resize(size, 0x00);
    return bytes;
}

class BoardRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(BoardRead, AnswersWhatTheBoardHoldsAtThatAddressAndLength)
{
    const ReadCase& c = GetParam();
    Board board{BoardOptions{}};
    BoardDriver host(board);
    EXPECT_EQ(host.read(c.address, c.count), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Board, BoardRead,
    ::testing::Values(ReadCase{"Esn", ADDR_ESN, 4, std::vector<std::uint8_t>{0x71, 0x5C, 0x3A, 0x1E}},
                      ReadCase{"VerifyStatus", ADDR_VERIFY_STATUS, 2, std::vector<std::uint8_t>{0x00, 0x00}},
                      ReadCase{"Version15", ADDR_FIRMWARE_VERSION, 15, text("R07.12.00", 15)},
                      ReadCase{"Version13", ADDR_FIRMWARE_VERSION, 13, text("R07.12.00", 13)},
                      ReadCase{"IdentityBlock", ADDR_IDENTITY_BLOCK, 23, defaultIdentity()},
                      ReadCase{"ParameterBlock", ADDR_PARAMETER_BLOCK, 52, defaultParameters()},
                      ReadCase{"EsnOfFiveBytes", ADDR_ESN, 5, std::nullopt},
                      ReadCase{"VerifyStatusOfOneByte", ADDR_VERIFY_STATUS, 1, std::nullopt},
                      ReadCase{"VersionOf14Bytes", ADDR_FIRMWARE_VERSION, 14, std::nullopt},
                      ReadCase{"VersionOf16Bytes", ADDR_FIRMWARE_VERSION, 16, std::nullopt},
                      ReadCase{"IdentityOf22Bytes", ADDR_IDENTITY_BLOCK, 22, std::nullopt},
                      ReadCase{"ParametersOf24Bytes", ADDR_PARAMETER_BLOCK, 24, std::nullopt},
                      ReadCase{"PageDataAddress", ADDR_PAGE_DATA, 4, std::nullopt},
                      ReadCase{"UnknownAddress", 0x0600, 4, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BoardIdentity, AnswersFollowTheOptions)
{
    const auto options =
        parseBoardOptions({"--esn", "0x12345678", "--version-hex", "41 42 31 2E 32 20 20 00", "--identity-hex",
                           "AA BB 00 01 02 03 04 CC", "--band-edge", "136000000", "--param-block", "0102"});
    Board board{options};
    BoardDriver host(board);
    EXPECT_EQ(host.read(ADDR_ESN, 4), (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12}));
    EXPECT_EQ(host.read(ADDR_FIRMWARE_VERSION, 15), text("AB1.2  ", 15));
    std::vector<std::uint8_t> identity(23, 0x00);
    identity[0] = 0xAA;
    identity[1] = 0xBB;
    identity[3] = 0x08; // 136000000 replaces the block's own 0x01020304
    identity[4] = 0x1B;
    identity[5] = 0x32;
    identity[6] = 0x00;
    identity[7] = 0xCC;
    EXPECT_EQ(host.read(ADDR_IDENTITY_BLOCK, 23), identity);
    EXPECT_EQ(host.read(ADDR_PARAMETER_BLOCK, 52), text("\x01\x02", 52));
}

TEST(BoardFaults, FailReadRefusesEveryLengthAtThatAddressOnly)
{
    const auto options = parseBoardOptions({"--fail-read", "0x2600"});
    Board board{options};
    BoardDriver host(board);
    EXPECT_EQ(host.read(ADDR_IDENTITY_BLOCK, 23), std::nullopt);
    EXPECT_EQ(host.read(ADDR_IDENTITY_BLOCK, 23), std::nullopt);
    EXPECT_TRUE(host.read(ADDR_PARAMETER_BLOCK, 52).has_value());
    EXPECT_EQ(board.counters().refused, 2u);
}

TEST(BoardFaults, FailReadLenRefusesOnlyThatLength)
{
    const auto options = parseBoardOptions({"--fail-read-len", "0x0D00:15"});
    Board board{options};
    BoardDriver host(board);
    EXPECT_EQ(host.read(ADDR_FIRMWARE_VERSION, 15), std::nullopt);
    EXPECT_EQ(host.read(ADDR_FIRMWARE_VERSION, 13), text("R07.12.00", 13));
}

TEST(BoardFaults, FailPageWritesRefusesTheFirstAttemptsOfEveryPageWrite)
{
    const auto options = parseBoardOptions({"--fail-page-writes", "2"});
    Board board{options};
    BoardDriver host(board);
    ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));
    for (std::uint32_t address : {0xA0000u, 0xB0100u}) {
        EXPECT_FALSE(host.writePage(address, filledPage(0x00)));
        EXPECT_FALSE(host.writePage(address, filledPage(0x00)));
        EXPECT_TRUE(allBytesAre(flashRange(board, address, kPageSize), 0xFF)) << "a failed attempt programmed";
        EXPECT_TRUE(host.writePage(address, filledPage(0x00)));
        EXPECT_TRUE(allBytesAre(flashRange(board, address, kPageSize), 0x00));
    }
    // Writing the same page again later is a new page write with its own failures.
    EXPECT_FALSE(host.writePage(0xA0000, filledPage(0x00)));
}

TEST(BoardFaults, FailPageWritesAtAnAddressHitsThatPageOnly)
{
    const auto options = parseBoardOptions({"--fail-page-writes", "3@0xA0100"});
    Board board{options};
    BoardDriver host(board);
    ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));
    EXPECT_TRUE(host.writePage(0xA0000, filledPage(0x00)));
    for (int attempt = 0; attempt < 3; ++attempt)
        EXPECT_FALSE(host.writePage(0xA0100, filledPage(0x00)));
    EXPECT_TRUE(host.writePage(0xA0100, filledPage(0x00)));
    EXPECT_TRUE(host.writePage(0xA0200, filledPage(0x00)));
}

TEST(BoardFaults, FailCommandRefusesThatWordOnly)
{
    {
        Board board{parseBoardOptions({"--fail-command", "0x1118"})};
        BoardDriver host(board);
        ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));
        EXPECT_TRUE(host.command(0x1119));
        EXPECT_FALSE(host.command(0x1118));
        EXPECT_TRUE(host.command(0x1117));
        EXPECT_EQ(board.counters().blocksErased, 2u);
    }
    {
        Board board{parseBoardOptions({"--fail-command", "0x1201"})};
        BoardDriver host(board);
        EXPECT_FALSE(host.command(CMD_PROGRAMMING_MODE));
        EXPECT_FALSE(host.command(0x111A)); // still guarded
    }
}

struct PingCase {
    const char* name;
    friend void PrintTo(const PingCase& c, std::ostream* out) { *out << c.name; }
    std::vector<std::string> options;
    std::vector<std::uint8_t> payload;
    bool answered;
    std::vector<std::uint8_t> answer = {};
};

class BoardPing : public ::testing::TestWithParam<PingCase> {};

TEST_P(BoardPing, AnswersOnlyTheRightRadioAtTheRightAddress)
{
    const PingCase& c = GetParam();
    Board board{parseBoardOptions(c.options)};
    const auto request = makeRequest(wire::FrameKind::Ping, 0, 0, c.payload.size(), c.payload);
    const auto answer = board.handle(request);
    if (!c.answered) {
        EXPECT_TRUE(answer.empty());
        return;
    }
    EXPECT_EQ(answerData(answer, request), c.answer);
}

// The answer's data: "LODESTAR", the protocol version, the board's bus address (52), the
// largest count (256, least significant byte first, bit 15 set for the emulator), and from
// version 2 on the receive buffer in bytes.
std::vector<std::uint8_t> pingAnswer(std::uint8_t version, std::uint8_t countHigh,
                                     std::vector<std::uint8_t> receiveBuffer)
{
    std::vector<std::uint8_t> answer{'L', 'O', 'D', 'E', 'S', 'T', 'A', 'R', version, 52, 0x00, countHigh};
    for (std::uint8_t byte : receiveBuffer)
        answer.push_back(byte);
    return answer;
}

INSTANTIATE_TEST_SUITE_P(
    Board, BoardPing,
    ::testing::Values(
        PingCase{"GoodPing", {}, goodPingPayload(), true, pingAnswer(2, 0x81, {0x00, 0x04})},
        PingCase{"AsARealBoard", {"--real-board"}, goodPingPayload(), true, pingAnswer(2, 0x01, {0x00, 0x04})},
        PingCase{"OneRequestAtATime", {"--protocol", "1"}, goodPingPayload(), true, pingAnswer(1, 0x81, {})},
        PingCase{"SmallerReceiveBuffer", {"--receive-buffer", "300"}, goodPingPayload(), true,
                 pingAnswer(2, 0x81, {0x2C, 0x01})},
        PingCase{"OtherModelNumberStillAnswered", {}, wire::encodePingPayload({"QM7731", "X", 13, 52}), true,
                 pingAnswer(2, 0x81, {0x00, 0x04})},
        PingCase{"WrongRadioModel", {}, wire::encodePingPayload({"QM7732", "ZZQ83LKW4PXT0B", 52, 52}), false},
        PingCase{"WrongBoardAddress", {}, wire::encodePingPayload({"QM7731", "ZZQ83LKW4PXT0B", 52, 53}), false},
        PingCase{"PayloadThatDoesNotDecode", {}, {'Q', 'M', '7', '7', '3', '1'}, false},
        PingCase{"BoardOff", {"--no-ping"}, goodPingPayload(), false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BoardFinish, LeavesProgrammingModeAndDumpsTheFlash)
{
    TempDir dir;
    BoardOptions options;
    options.dumpFlashFile = dir.file("dump.bin");
    Board board{options};
    BoardDriver host(board);
    ASSERT_TRUE(host.command(CMD_PROGRAMMING_MODE));
    ASSERT_TRUE(host.writePage(kPageAt, countingPage()));

    EXPECT_TRUE(host.command(CMD_FINISH));
    EXPECT_FALSE(board.inProgrammingMode());
    EXPECT_FALSE(host.command(CMD_ERASE_BLOCK + 0x1A));
    const auto dumped = readFlashFile(dir.file("dump.bin"));
    EXPECT_TRUE(std::equal(dumped.begin(), dumped.end(), board.flash().begin()));
    EXPECT_EQ(dumped[kPageAt + 0x42], 0x42);
}

TEST(BoardFinish, AFailedDumpIsRecordedAndTheFinishStillAccepted)
{
    BoardOptions options;
    options.dumpFlashFile = "/nonexistent-directory/dump.bin";
    Board board{options};
    BoardDriver host(board);
    EXPECT_TRUE(host.command(CMD_FINISH));
    EXPECT_EQ(board.counters().flashDumpFailures, 1u);
    EXPECT_NE(board.lastDumpError().find("/nonexistent-directory/dump.bin"), std::string::npos);
}

} // namespace
} // namespace fieldkit::sim
