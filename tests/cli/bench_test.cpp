#include "cli/bench_display.h"
#include "cli/bench_run.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace fieldkit::cli {
namespace {

PortOutcome outcome(int port, flash::RunResult result, std::string message = {})
{
    PortOutcome made;
    made.port = port;
    made.result = result;
    made.seconds = 12.34;
    made.report.message = std::move(message);
    return made;
}

TEST(BenchSummary, NamesEachPortWithWhatWasReadAndTheFirstLineOfAFailure)
{
    auto read = outcome(1, flash::RunResult::Success);
    read.report.esnRead = true;
    read.report.identity.esnText = "-2147483648";
    read.report.versionRead = true;
    read.report.identity.boardVersionText = "R07.10.00";
    std::ostringstream out;
    printBenchSummary(out, {read, outcome(3, flash::RunResult::Failure, "Failed to erase block 8.\n\nPlease turn ...")});
    EXPECT_EQ(out.str(), "Port  ESN          Version before  Result   Time    Message\n"
                         "COM1  -2147483648  R07.10.00       success  12.3 s\n"
                         "COM3  not read     not read        failed   12.3 s  Failed to erase block 8.\n");
}

struct ExitCase {
    std::vector<flash::RunResult> results;
    int status;
};

class BenchExit : public ::testing::TestWithParam<ExitCase> {};

TEST_P(BenchExit, AnyFailureOutweighsADeclineWhichOutweighsSuccess)
{
    std::vector<PortOutcome> outcomes;
    for (auto result : GetParam().results)
        outcomes.push_back(outcome(static_cast<int>(outcomes.size()) + 1, result));
    EXPECT_EQ(benchExitStatus(outcomes), GetParam().status);
}

using R = flash::RunResult;
INSTANTIATE_TEST_SUITE_P(Results, BenchExit,
                         ::testing::Values(ExitCase{{R::Success, R::Success}, 0}, ExitCase{{R::Success, R::Declined}, 3},
                                           ExitCase{{R::Declined, R::Failure, R::Success}, 1},
                                           ExitCase{{R::Success, R::Interrupted}, 1}));

TEST(RunResult, AStopOutweighsADeclineButNotAFailure)
{
    flash::UpgradeReport declined;
    declined.questions.push_back({QuestionKind::AlreadyFlashed, Answer::No});
    EXPECT_EQ(declined.result(), flash::RunResult::Declined);
    declined.interrupted = true;
    EXPECT_EQ(declined.result(), flash::RunResult::Interrupted);
    flash::UpgradeReport failed;
    failed.failure = FailureKind::EraseBlock;
    failed.interrupted = true;
    EXPECT_EQ(failed.result(), flash::RunResult::Failure);
}

// A board's thread opens a box; another board's progress during it must wait until it closes.
std::string runWithABox(bool redrawInPlace)
{
    std::ostringstream out;
    BenchDisplay display(out, redrawInPlace, {1, 2});
    std::thread board([&display, &out] {
        display.showBox(0, [&display, &out] {
            out << "COM1: Question:\n[y/N] y\n";
            display.status(1, "Erasing flash blocks");
        });
        display.runEnded();
        display.runEnded();
    });
    display.serveBoxes();
    board.join();
    display.close();
    return out.str();
}

TEST(BenchDisplay, PlainLinesOfOtherBoardsWaitUntilTheBoxCloses)
{
    EXPECT_EQ(runWithABox(false), "COM1: Question:\n[y/N] y\nCOM2: Erasing flash blocks\n");
}

TEST(BenchDisplay, OnATerminalTheLinesMakeWayForTheBoxAndAreDrawnBelowIt)
{
    const std::string shown = runWithABox(true);
    const auto box = shown.find("COM1: Question:\n[y/N] y\n");
    ASSERT_NE(box, std::string::npos);
    // Two lines up and everything below cleared, right before the box.
    EXPECT_EQ(shown.rfind("\x1b[2A\r\x1b[J", box), box - 8);
    EXPECT_NE(shown.find("COM2  ESN ?            Erasing flash blocks", box), std::string::npos);
    EXPECT_EQ(shown.substr(0, box).find("Erasing"), std::string::npos) << "drawn during the box";
}

} // namespace
} // namespace fieldkit::cli
