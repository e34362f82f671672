#include "flash/flash_programmer.h"

#include "tests/support/fake_clock.h"
#include "tests/support/recording_notices.h"

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <optional>
#include <tuple>
#include <vector>

namespace fieldkit::flash {
namespace {

using namespace std::chrono_literals;

// A link that takes every write unless told otherwise and answers status reads with given
// bytes; it records what was written.
class ScriptedLink final : public link::BoardLink {
public:
    struct Write {
        std::uint32_t address;
        std::vector<std::uint8_t> data;
    };

    int BriskDllInit(const char*, const char*, int, int) override { return 0; }
    int ReadTimers(link::LinkTimers&) override { return 0; }
    int ConfigureTimers(const link::LinkTimers&) override { return 0; }
    int OpenPort(int) override { return 0; }
    void ClosePort() override {}
    int Ping_Opt_Board(int, std::uint8_t*) override { return 0; }
    int ReadDataOnly(int, std::uint8_t* destination, std::uint32_t address, std::uint32_t count) override
    {
        reads.push_back(address);
        if (failReads)
            return -1;
        std::copy_n(status.begin(), std::min<std::size_t>(count, status.size()), destination);
        return 0;
    }
    int WriteDataOnly(int, const std::uint8_t* source, std::uint32_t address, std::uint32_t count, int) override
    {
        writes.push_back({address, {source, source + count}});
        return refuse && refuse(writes.back()) ? -1 : 0;
    }

    // With `windowWrites` set, that many writes go out before their answers are taken, each
    // judged as it goes out, as a board that holds them does; else one at a time.
    std::unique_ptr<link::WriteWindow> openWriteWindow(int port) override;

    std::function<bool(const Write&)> refuse;
    std::vector<std::uint8_t> status{0x00, 0x00};
    bool failReads = false;
    std::vector<Write> writes;
    std::vector<std::uint32_t> reads;
    std::size_t windowWrites = 0;
};

class ScriptedWindow final : public link::WriteWindow {
public:
    ScriptedWindow(ScriptedLink& link, std::size_t writes) : link_(link), writes_(writes) {}

    bool hasRoomFor(std::uint32_t) const override { return results_.size() < writes_; }
    int send(const std::uint8_t* source, std::uint32_t address, std::uint32_t count) override
    {
        results_.push_back(link_.WriteDataOnly(1, source, address, count, 0));
        return 0;
    }
    int nextAnswer() override
    {
        const int result = results_.front();
        results_.pop_front();
        return result;
    }
    std::size_t answersDue() const override { return results_.size(); }

private:
    ScriptedLink& link_;
    std::size_t writes_;
    std::deque<int> results_;
};

std::unique_ptr<link::WriteWindow> ScriptedLink::openWriteWindow(int port)
{
    if (windowWrites == 0)
        return BoardLink::openWriteWindow(port);
    return std::make_unique<ScriptedWindow>(*this, windowWrites);
}

class FlashProgrammerTest : public ::testing::Test {
protected:
    ScriptedLink link;
    testing::FakeClock clock;
    testing::RecordingNotices notices;
    FlashProgrammer programmer{link, clock};

    std::size_t pageDoneCount() const
    {
        return static_cast<std::size_t>(std::count_if(notices.notices.begin(), notices.notices.end(),
                                                      [](const auto& n) { return n.code == UPG_PAGE_DONE; }));
    }
};

TEST(BlockSelectWord, PicksTheBlockHoldingTheAddress)
{
    EXPECT_EQ(blockSelectWord(0xA0000), 0x011Au);
    EXPECT_EQ(blockSelectWord(0xAFFFF), 0x011Au);
    EXPECT_EQ(blockSelectWord(0xB0000), 0x0119u);
    EXPECT_EQ(blockSelectWord(0xC1234), 0x0118u);
    EXPECT_EQ(blockSelectWord(0xDFFFF), 0x0117u);
    EXPECT_EQ(blockSelectWord(0xEFFFF), 0x0116u);
    EXPECT_EQ(blockSelectWord(0xF0000), 0x0115u);
    EXPECT_EQ(blockSelectWord(0x9FFFF), kNoBlockSelectWord);
    EXPECT_EQ(blockSelectWord(0x100001), kNoBlockSelectWord);
}

TEST(CountNonBlankPages, CountsPagesWithAnyByteOtherThanFF)
{
    std::vector<std::uint8_t> data(0x101, 0xFF);
    EXPECT_EQ(countNonBlankPages(data), 0u);
    data.back() = 0x00; // a short last page counts by its own bytes
    EXPECT_EQ(countNonBlankPages(data), 1u);
    data[0xFF] = 0xFE;
    EXPECT_EQ(countNonBlankPages(data), 2u);
    EXPECT_EQ(countNonBlankPages({}), 0u);
}

TEST_F(FlashProgrammerTest, WritePageSendsSelectDataAndCommitRecord)
{
    std::array<std::uint8_t, kPageSize> page{};
    page.fill(0x5A);
    ASSERT_EQ(programmer.writePage(1, page, 0xA1200), 0);
    ASSERT_EQ(link.writes.size(), 3u);
    EXPECT_EQ(link.writes[0].address, 0x011Au);
    EXPECT_EQ(link.writes[0].data, std::vector<std::uint8_t>{kCommandDataByte});
    EXPECT_EQ(link.writes[1].address, ADDR_PAGE_DATA);
    EXPECT_EQ(link.writes[1].data, std::vector<std::uint8_t>(page.begin(), page.end()));
    EXPECT_EQ(link.writes[2].address, ADDR_PAGE_COMMIT);
    EXPECT_EQ(link.writes[2].data, (std::vector<std::uint8_t>{0x0A, 0x0B, 0x0C, 0x00, 0x12, 0x0A}));
    EXPECT_TRUE(clock.pauses.empty());
}

TEST_F(FlashProgrammerTest, WritePageNamesTheWriteThatFailedAndStopsThere)
{
    std::array<std::uint8_t, kPageSize> page{};
    for (const auto& [failing, expected] : {std::pair{0u, -3}, {1u, -4}, {2u, -5}}) {
        link.writes.clear();
        link.refuse = [&, failing](const ScriptedLink::Write&) { return link.writes.size() == failing + 1; };
        EXPECT_EQ(programmer.writePage(1, page, 0xA0000), expected);
        EXPECT_EQ(link.writes.size(), failing + 1);
    }
}

TEST_F(FlashProgrammerTest, WriteRegionRejectsBadRangesBeforeSendingAnything)
{
    const std::vector<std::uint8_t> page(0x100, 0x00);
    const std::vector<std::uint8_t> pagePlusOne(0x101, 0x00);
    EXPECT_EQ(programmer.writeRegion(1, std::span<const std::uint8_t>(), 0xA0000, &notices), -1);
    EXPECT_EQ(programmer.writeRegion(1, page, 0x9FFFF, &notices), -2);
    EXPECT_EQ(programmer.writeRegion(1, page, 0xF0000, &notices), -2);
    EXPECT_EQ(programmer.writeRegion(1, pagePlusOne, 0xEFF00, &notices), -3);
    EXPECT_TRUE(link.writes.empty());
    EXPECT_EQ(programmer.writeRegion(1, page, 0xEFF00, &notices), 0);
    EXPECT_EQ(link.writes.size(), 3u);
}

TEST_F(FlashProgrammerTest, BlankPagesAreSkippedWithoutTrafficOrNotices)
{
    std::vector<std::uint8_t> region(0x4000, 0xFF);
    EXPECT_EQ(programmer.writeRegion(1, region, 0xA0000, &notices), 0);
    EXPECT_EQ(programmer.writeRegion(1, std::span(region).first(0), 0xA0000, &notices), 0);
    EXPECT_TRUE(link.writes.empty());
    EXPECT_TRUE(notices.notices.empty());

    region[0x1234] = 0x00;
    region[0x3FFF] = 0x00;
    EXPECT_EQ(programmer.writeRegion(1, region, 0xA0000, &notices), 0);
    ASSERT_EQ(link.writes.size(), 6u);
    EXPECT_EQ(link.writes[2].data[4], 0x12); // commit of the page at 0xA1200
    EXPECT_EQ(link.writes[5].data[4], 0x3F); // commit of the page at 0xA3F00
    EXPECT_EQ(pageDoneCount(), 2u);
}

TEST_F(FlashProgrammerTest, AShortLastPageIsPaddedWithErasedBytesAndNothingPastTheDataIsRead)
{
    // Exactly 0x101 bytes: any read past them is caught by the address sanitizer build.
    std::vector<std::uint8_t> region(0x101, 0xFF);
    region[0x100] = 0x42;
    EXPECT_EQ(programmer.writeRegion(1, region, 0xA0000, &notices), 0);
    ASSERT_EQ(link.writes.size(), 3u);
    std::vector<std::uint8_t> expected(kPageSize, 0xFF);
    expected[0] = 0x42;
    EXPECT_EQ(link.writes[1].data, expected);
    EXPECT_EQ(link.writes[2].data[4], 0x01); // the page at 0xA0100
}

// A region of three pages whose writes the board refuses as a row says, written one at a
// time (through the link's own window, or a scripted window of one) or seven writes at a time,
// so that the next page is on the line when one fails.
struct Outcome {
    int result;
    std::size_t pauses; // of 200 ms each
    std::uint32_t pagesWritten;
    std::size_t writes; // that reached the board
};

struct RegionCase {
    const char* name;
    friend void PrintTo(const RegionCase& c, std::ostream* out) { *out << c.name; }
    std::uint32_t refusedWord;
    int refusals;                           // the first that many writes to the word, of the page below
    std::optional<std::uint32_t> commitOf; // only the commits of the page at this address
    std::optional<std::size_t> stopAtWrite; // a stop requested as this write goes out
    Outcome oneAtATime;
    Outcome streamed;
};

class RegionWrite : public ::testing::TestWithParam<std::tuple<RegionCase, std::size_t>> {};

TEST_P(RegionWrite, SettlesThePagesOnTheLineAndRetriesEachFailedPageThreeTimes)
{
    const auto& [c, windowWrites] = GetParam();
    ScriptedLink link;
    link.windowWrites = windowWrites;
    testing::FakeClock clock;
    testing::RecordingNotices notices;
    UpgradeStop stop;
    FlashProgrammer programmer(link, clock, &stop);
    int refused = 0;
    link.refuse = [&](const ScriptedLink::Write& write) {
        if (c.stopAtWrite && link.writes.size() == *c.stopAtWrite + 1)
            stop.request();
        const bool hit = write.address == c.refusedWord &&
                         (!c.commitOf ||
                          static_cast<std::uint32_t>(write.data[3] | write.data[4] << 8 | write.data[5] << 16) ==
                              *c.commitOf);
        return hit && refused++ < c.refusals;
    };
    const std::vector<std::uint8_t> region(3 * kPageSize, 0x00);

    const Outcome& expected = windowWrites > 1 ? c.streamed : c.oneAtATime;
    EXPECT_EQ(programmer.writeRegion(1, region, 0xA0000, &notices), expected.result);
    EXPECT_EQ(clock.pauses, std::vector<std::chrono::milliseconds>(expected.pauses, 200ms));
    EXPECT_EQ(programmer.pagesWritten(), expected.pagesWritten);
    EXPECT_EQ(static_cast<std::uint32_t>(notices.notices.size()), expected.pagesWritten); // one per page written
    EXPECT_EQ(link.writes.size(), expected.writes);
    // Every attempt is its page's select, data and commit, in that order, up to a refusal.
    for (std::size_t i = 0; i < link.writes.size(); ++i) {
        if (link.writes[i].address == ADDR_PAGE_COMMIT) {
            EXPECT_TRUE(i >= 2 && link.writes[i - 1].address == ADDR_PAGE_DATA &&
                        link.writes[i - 2].address == 0x011A)
                << "write " << i;
        }
    }
}

const RegionCase kRegionCases[] = {
    {"NoRefusal", 0, 0, std::nullopt, std::nullopt, {0, 0, 3, 9}, {0, 0, 3, 9}},
    // The page behind the refused select is written while the refusal is settled.
    {"SelectRefusedOnce", 0x011A, 1, std::nullopt, std::nullopt, {0, 1, 3, 10}, {0, 1, 3, 13}},
    {"MiddleCommitRefusedTwice", ADDR_PAGE_COMMIT, 2, 0xA0100, std::nullopt, {0, 2, 3, 15}, {0, 2, 3, 15}},
    // Pages already written stay written; the last page is written only when it was on the line.
    {"MiddleCommitRefusedThreeTimes", ADDR_PAGE_COMMIT, 3, 0xA0100, std::nullopt, {-4, 3, 1, 12}, {-4, 3, 2, 15}},
    // Every page on the line fails an attempt of its own, and costs its pause.
    {"EveryDataRefused", ADDR_PAGE_DATA, 1000, std::nullopt, std::nullopt, {-4, 3, 0, 6}, {-4, 9, 0, 24}},
    // A stop ends the region before the next page; the pages already sent are finished.
    {"StopBeforeTheLastPage", 0, 0, std::nullopt, 3, {-5, 0, 2, 6}, {-5, 0, 2, 6}},
};

INSTANTIATE_TEST_SUITE_P(Windows, RegionWrite,
                         ::testing::Combine(::testing::ValuesIn(kRegionCases), ::testing::Values(0u, 1u, 7u)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "Window" +
                                    std::to_string(std::get<1>(info.param));
                         });

TEST_F(FlashProgrammerTest, NoWindowMeansNoNotices)
{
    std::vector<std::uint8_t> region(kPageSize, 0x00);
    EXPECT_EQ(programmer.writeRegion(1, region, 0xA0000, nullptr), 0);
    EXPECT_EQ(link.writes.size(), 3u);
}

TEST_F(FlashProgrammerTest, VerifySendsTheChecksumHighByteFirstAndReadsTheVerdictAfterTheBoardHadTime)
{
    EXPECT_EQ(programmer.verifyRegionChecksum(1, CMD_VERIFY_BOOT, 0x1234), 0);
    ASSERT_EQ(link.writes.size(), 1u);
    EXPECT_EQ(link.writes[0].address, CMD_VERIFY_BOOT);
    EXPECT_EQ(link.writes[0].data, (std::vector<std::uint8_t>{0x12, 0x34}));
    EXPECT_EQ(clock.pauses, std::vector{2000ms});
    EXPECT_EQ(link.reads, std::vector<std::uint32_t>{ADDR_VERIFY_STATUS});
}

TEST_F(FlashProgrammerTest, VerifyResultFollowsBitThreeOfTheFirstStatusByteOnly)
{
    for (const auto& [status, expected] : {std::pair{std::vector<std::uint8_t>{0x08, 0x00}, -3},
                                           {{0xF7, 0xFF}, 0},
                                           {{0xFF, 0x00}, -3},
                                           {{0x00, 0x08}, 0}}) {
        link.status = status;
        EXPECT_EQ(programmer.verifyRegionChecksum(1, CMD_VERIFY_APP, 0), expected);
    }
}

TEST_F(FlashProgrammerTest, VerifyFailuresNameTheirStep)
{
    link.refuse = [](const ScriptedLink::Write&) { return true; };
    EXPECT_EQ(programmer.verifyRegionChecksum(1, CMD_VERIFY_APP, 0), -1);
    EXPECT_TRUE(link.reads.empty());
    EXPECT_TRUE(clock.pauses.empty());
    link.refuse = nullptr;
    link.failReads = true;
    EXPECT_EQ(programmer.verifyRegionChecksum(1, CMD_VERIFY_APP, 0), -2);
}

TEST_F(FlashProgrammerTest, SendCommandPassesTheLinkResultThrough)
{
    EXPECT_EQ(programmer.sendCommand(1, CMD_FINISH), 0);
    EXPECT_EQ(link.writes.back().address, CMD_FINISH);
    EXPECT_EQ(link.writes.back().data, std::vector<std::uint8_t>{kCommandDataByte});
    link.refuse = [](const ScriptedLink::Write&) { return true; };
    EXPECT_NE(programmer.sendCommand(1, CMD_FINISH), 0);
}

} // namespace
} // namespace fieldkit::flash
