// The fuzz harnesses in every ordinary build: the seed corpora (recorded board traffic,
// srec_cat output, settings files, emulator options, history files) replayed through them,
// and proof that their promises can fail, so that a quiet fuzzer means something.

#include "fuzz/board_options_input.h"
#include "fuzz/board_requests.h"
#include "fuzz/finding.h"
#include "fuzz/history_input.h"
#include "fuzz/link_answers.h"
#include "fuzz/settings_input.h"
#include "fuzz/srecord_input.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace fieldkit::fuzz {
namespace {

namespace fs = std::filesystem;

const fs::path kSeedCorpus = FIELDKIT_FUZZ_CORPUS_DIR;

using Replay = std::function<void(std::span<const std::uint8_t>)>;

struct Harness {
    const char* name;
    Replay replay;
};

const Harness kHarnesses[] = {
    {"srecord_loader", replaySrecordFile},
    {"link_answers", replayLinkAnswers},
    {"board_requests", replayBoardRequests},
    {"settings", replaySettingsInput},
    {"board_options", replayBoardOptions},
    {"history_reader", replayHistoryFile},
};

std::vector<std::uint8_t> readBytes(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// Replays every file of `directory`; returns how many there were.
std::size_t replayAll(const Harness& harness, const fs::path& directory)
{
    std::size_t replayed = 0;
    if (!fs::is_directory(directory))
        return 0;
    for (const auto& entry : fs::directory_iterator(directory)) {
        const auto input = readBytes(entry.path());
        try {
            harness.replay(input);
        } catch (const Finding& finding) {
            ADD_FAILURE() << entry.path() << ": " << finding.what();
        }
        ++replayed;
    }
    return replayed;
}

class HarnessReplay : public ::testing::TestWithParam<Harness> {};

TEST_P(HarnessReplay, SeedCorpusKeepsEveryPromise)
{
    EXPECT_GT(replayAll(GetParam(), kSeedCorpus / GetParam().name), 0u) << "no seeds for " << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(Harnesses, HarnessReplay, ::testing::ValuesIn(kHarnesses),
                         [](const auto& info) { return std::string(info.param.name); });

// The link as a connection leaves it, for the harness to read its number of tries.
class LinkAnswersHarness : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(boardLink.BriskDllInit(link::kRadioModel, link::kModelNumber, link::kLargestRead,
                                         link::kBoardAddress),
                  0);
    }

    // What the harness sees after a call: one frame out, then `answer` back.
    static ScriptedLine lineAfter(const wire::Request& request, std::vector<std::uint8_t> answer)
    {
        ScriptedLine line({});
        line.framesThisCall.push_back(
            wire::encodeRequest(request.kind, request.sequence, request.address, request.count, request.payload));
        line.sinceLastFrame = std::move(answer);
        return line;
    }

    link::SerialBoardLink boardLink{nullptr};
    const LinkStep& esnRead = kConnectionSteps[4];
};

wire::Request readRequest(std::uint8_t sequence, std::uint16_t address, std::size_t count)
{
    const auto frame = wire::encodeRequest(wire::FrameKind::Read, sequence, address, count, {});
    return *decodeFrame(frame);
}

TEST_F(LinkAnswersHarness, ASuccessOnTheAnswerToAnotherRequestIsAFinding)
{
    const std::vector<std::uint8_t> esn{0x71, 0x5C, 0x3A, 0x1E};
    const auto asked = readRequest(9, esnRead.address, esnRead.count);
    const auto earlier = readRequest(8, esnRead.address, esnRead.count);

    auto bound = lineAfter(asked, wire::encodeDataAnswer(wire::kAck, asked, esn));
    EXPECT_NO_THROW(judgeStep(boardLink, bound, StepOutcome{&esnRead, {}, esn, 0}));
    auto unbound = lineAfter(asked, wire::encodeDataAnswer(wire::kAck, earlier, esn));
    EXPECT_THROW(judgeStep(boardLink, unbound, StepOutcome{&esnRead, {}, esn, 0}), Finding);
}

TEST_F(LinkAnswersHarness, AFailedReadThatWroteIntoTheBufferIsAFinding)
{
    const auto asked = readRequest(3, esnRead.address, esnRead.count);
    std::vector<std::uint8_t> untouched(esnRead.count, 0xA5);
    std::vector<std::uint8_t> written{0x71, 0xA5, 0xA5, 0xA5};

    auto silent = lineAfter(asked, {});
    EXPECT_NO_THROW(judgeStep(boardLink, silent, StepOutcome{&esnRead, {}, untouched, -7}));
    auto again = lineAfter(asked, {});
    EXPECT_THROW(judgeStep(boardLink, again, StepOutcome{&esnRead, {}, written, -7}), Finding);
}

TEST(LinkAnswersSeeds, AGoodBoardsRecordedAnswersCarryEveryCallOfBothConnections)
{
    const auto input = readBytes(kSeedCorpus / "link_answers" / "good-board");
    ScriptedLine line(input);
    link::SerialBoardLink boardLink([&line](int) { return std::make_unique<ScriptedChannel>(line); });
    std::vector<int> results;
    runLinkSession(boardLink, 2, [] { return true; }, [&](const StepOutcome& outcome) {
        judgeStep(boardLink, line, outcome);
        results.push_back(outcome.result);
    });
    EXPECT_EQ(results, std::vector<int>(2 * (1 + kConnectionSteps.size()), 0));
    EXPECT_TRUE(line.answers.done());
}

TEST(BoardRequestsHarness, AnAnswerBoundToAnotherRequestIsAFinding)
{
    const auto asked = readRequest(5, 0x0500, 4);
    const auto other = readRequest(6, 0x0500, 4);
    const std::vector<std::uint8_t> esn{1, 2, 3, 4};

    const auto right = wire::encodeDataAnswer(wire::kAck, asked, esn);
    EXPECT_EQ(answerEnd(right, 0, asked), right.size());
    const auto wrong = wire::encodeDataAnswer(wire::kAck, other, esn);
    EXPECT_THROW(answerEnd(wrong, 0, asked), Finding);
}

TEST(SrecordHarness, PlainReadingPlacesEachRecordAtItsAddress)
{
    // S2 record: 8 bytes counted, address 0x0FC010, data 01 02 03 04, checksum.
    const std::string file = "S0030000FC\nS2080FC010010203040E\r\nS5030001FB\n";
    std::vector<std::uint8_t> destination(0x20, 0xEE);
    placeRecordsPlainly(file, destination, {0xFC000, 0x4000});
    EXPECT_EQ(std::vector<std::uint8_t>(destination.begin() + 0x10, destination.begin() + 0x14),
              (std::vector<std::uint8_t>{1, 2, 3, 4}));
    EXPECT_EQ(destination[0x0F], 0xEE);
    EXPECT_EQ(destination[0x14], 0xEE);
}

} // namespace
} // namespace fieldkit::fuzz
