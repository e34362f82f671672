#include "cli/bench_display.h"
#include "cli/terminal_notices.h"
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
    BenchDisplay display(out, redrawInPlace, {1, 2}, [] { return 80; });
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

struct WidthRow {
    int columns;
    const char* line;
};

class BenchLineWidth : public ::testing::TestWithParam<WidthRow> {};

// A line as wide as the terminal wraps and throws the redraw off, leaving stale rows.
TEST_P(BenchLineWidth, FitsTheTerminalKeepingPortAndPercentage)
{
    const auto& row = GetParam();
    const std::string line = benchLine("COM1", "-2147483648", "Upgrading the application code", " 45.2% Done", row.columns);
    EXPECT_EQ(line, row.line);
    EXPECT_LT(line.size(), static_cast<std::size_t>(row.columns == 0 ? 80 : row.columns));
}

INSTANTIATE_TEST_SUITE_P(
    Columns, BenchLineWidth,
    ::testing::Values(WidthRow{0, "COM1  ESN -2147483648  Upgrading the application code     45.2% Done"},
                      WidthRow{80, "COM1  ESN -2147483648  Upgrading the application code     45.2% Done"},
                      WidthRow{60, "COM1  ESN -2147483648  Upgrading the applicatio  45.2% Done"},
                      WidthRow{40, "COM1  Upgrading the applica  45.2% Done"},
                      WidthRow{12, "COM1   45.2"}));

TEST(TerminalNotices, ABarRedrawnInPlaceStaysWithinANarrowTerminal)
{
    std::ostringstream out;
    TerminalNotices notices(out, true, [] { return 30; });
    notices.beginProgress(3);
    for (int page = 0; page < 3; ++page)
        notices.pageDone();
    EXPECT_EQ(out.str(), "\r[#####..........] 33.3% Done\r[##########.....] 66.6% Done\r[###############] 100.0% Done") << out.str();
}

TEST(BenchDisplay, ARedrawAfterTheTerminalNarrowedGoesUpTheRowsTheWrappedLinesTakeNow)
{
    std::ostringstream out;
    int columns = 80;
    BenchDisplay display(out, true, {1, 2}, [&columns] { return columns; });
    display.status(0, "Upgrading the application code"); // both lines drawn, 53 and 31 long
    columns = 30;
    out.str("");
    display.status(1, "Erasing flash blocks");
    EXPECT_EQ(out.str().rfind("\x1b[4A\r\x1b[J", 0), 0u) << out.str();
}

} // namespace
} // namespace fieldkit::cli
