#include "session/bench.h"
#include "session/session.h"

#include "history/history_file.h"
#include "link/serial_board_link.h"
#include "session/endings.h"
#include "session/pending_records.h"
#include "sim/board_endpoint.h"
#include "sim/board_options.h"
#include "sim/in_memory_channel.h"
#include "tests/support/environment_variable.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace fieldkit::session {
namespace {

namespace fs = std::filesystem;

// Holds each caller until `expected` have come. A mutex and a condition variable rather than
// std::latch: with the latch the bench's stop test once hung in the Windows build under Wine.
class Arrivals {
public:
    explicit Arrivals(int expected) : left_(expected) {}
    void arriveAndWait()
    {
        std::unique_lock lock(mutex_);
        if (--left_ == 0)
            allThere_.notify_all();
        else
            allThere_.wait(lock, [this] { return left_ == 0; });
    }

private:
    std::mutex mutex_;
    std::condition_variable allThere_;
    int left_;
};

// Boxes with the hint each one was shown with, and the progress. A question can stand for the
// user stopping the run while it is open, and entering a step can stop the bench once every
// port has entered it.
class RecordingView final : public RunView {
public:
    struct Box {
        Cause cause;
        std::string hint;
    };

    void setHints(HintSource source) override { hints = std::move(source); }
    void error(FailureKind kind, const std::string&) override { boxes.push_back({kind, hintFor(kind)}); }
    void warning(WarningKind kind, const std::string&) override { boxes.push_back({kind, hintFor(kind)}); }
    Answer question(QuestionKind kind, const std::string&) override
    {
        boxes.push_back({kind, hintFor(kind)});
        if (stopWhileAsked != nullptr)
            stopWhileAsked->request();
        return stopWhileAsked != nullptr ? Answer::No : Answer::Yes;
    }
    void progress(const ProgressEvent& event) override
    {
        events.push_back(event);
        const auto* step = std::get_if<StepEntered>(&event);
        if (stopOnEntering && step != nullptr && step->stage == stopOnEntering->stage) {
            stopOnEntering->allThere.arriveAndWait();
            stopOnEntering->stop.request();
        }
    }

    struct StopOnEntering {
        UpgradeStage stage;
        Arrivals& allThere;
        UpgradeStop& stop;
    };

    HintSource hints;
    std::vector<Box> boxes;
    std::vector<ProgressEvent> events;
    UpgradeStop* stopWhileAsked = nullptr;
    std::optional<StopOnEntering> stopOnEntering;

private:
    std::string hintFor(const Cause& cause) const { return hints ? hints(cause) : ""; }
};

class SessionTest : public ::testing::Test {
protected:
    LinkFactory board(const std::vector<std::string>& options)
    {
        endpoint = std::make_unique<sim::BoardEndpoint>(sim::parseBoardOptions(options));
        return [this](Clock&) {
            // A console closing from here on waits for the run's record.
            recordGuardHeld = !waitForPendingRecords(std::chrono::milliseconds(0));
            return std::make_unique<link::SerialBoardLink>(
                [this](int) { return std::make_unique<sim::InMemoryChannel>(*endpoint); });
        };
    }
    std::vector<history::StoredRecord> recordsWritten() const
    {
        std::string error;
        const auto contents = history::readHistory(history, &error);
        return contents ? contents->records : std::vector<history::StoredRecord>{};
    }

    testing::TempDir folder;
    const fs::path history = folder / "history.jsonl";
    testing::EnvironmentVariable historyFile{"FIELDKIT_HISTORY", history.string()};
    std::unique_ptr<sim::BoardEndpoint> endpoint;
    bool recordGuardHeld = false;
    testing::FakeClock clock;
    RecordingView view;
    UpgradeStop stop;
    UpgradePlan plan{{2, "board", true}, "R09.00.00", FIELDKIT_EXAMPLES_DIR, nullptr};
};

TEST_F(SessionTest, ALinkThatCannotBeMadeFailsTheRunForTheWindowAndTheRecord)
{
    const LinkFactory broken = [](Clock&) -> std::unique_ptr<link::BoardLink> { throw std::runtime_error("no cable"); };
    const Outcome upgrade = runUpgrade(plan, {broken, view, stop, &clock, {}});
    EXPECT_EQ(upgrade.result, flash::RunResult::Failure);
    EXPECT_EQ(upgrade.report.failure, FailureKind::Unexpected);
    ASSERT_FALSE(view.events.empty());
    EXPECT_FALSE(std::get<RunFinished>(view.events.back()).succeeded);

    const BoardReadOutcome read = readBoard(plan.place, plan.settingsVersion, {broken, view, stop, &clock, {}}, nullptr);
    EXPECT_EQ(read.result, flash::RunResult::Failure);
    ASSERT_EQ(view.boxes.size(), 2u);
    EXPECT_EQ(view.boxes[1].cause, Cause{FailureKind::Unexpected});
    EXPECT_EQ(recordsWritten().size(), 2u);
    EXPECT_FALSE(upgrade.recorded.notWritten || read.recorded.notWritten);
}

TEST_F(SessionTest, ABoxGetsItsHintDuringTheRunAndTheHintsGoWithIt)
{
    const BoardReadOutcome read = readBoard(plan.place, plan.settingsVersion, {board({"--no-ping"}), view, stop, &clock, {}},
                                            [](const link::BoardIdentity&) { ADD_FAILURE() << "nothing was read"; });
    EXPECT_EQ(read.failure->kind, FailureKind::Ping);
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_FALSE(view.boxes[0].hint.empty());
    EXPECT_FALSE(view.hints) << "the hints read a link that is gone";

    const Outcome upgrade = runUpgrade(plan, {board({"--no-ping"}), view, stop, &clock, {}});
    ASSERT_EQ(view.boxes.size(), 2u);
    EXPECT_EQ(upgrade.failureHint, view.boxes[1].hint) << "the outcome keeps the hint of the box that stopped it";
}

TEST_F(SessionTest, TheBoardIsIdentifiedOnceReadAndTheProgressCountsEveryPage)
{
    const Outcome outcome = runUpgrade(plan, {board({"--esn", "0x12345678"}), view, stop, &clock, {}});
    ASSERT_EQ(outcome.result, flash::RunResult::Success);
    std::vector<BoardIdentified> identified;
    std::optional<PageWritten> lastPage;
    std::uint32_t begun = 0;
    for (const auto& event : view.events) {
        if (const auto* board = std::get_if<BoardIdentified>(&event))
            identified.push_back(*board);
        if (const auto* page = std::get_if<PageWritten>(&event))
            lastPage = *page;
        if (const auto* progress = std::get_if<ProgressBegun>(&event))
            begun = progress->pageCount;
    }
    ASSERT_EQ(identified.size(), 1u) << "the ESN and the version are both read before the bar begins";
    EXPECT_EQ(identified[0].esnText, "305419896");
    EXPECT_EQ(identified[0].versionText, sim::BoardOptions{}.versionText);
    ASSERT_TRUE(lastPage);
    EXPECT_EQ(lastPage->pagesDone, begun);
    EXPECT_EQ(lastPage->pageCount, begun);
}

TEST_F(SessionTest, AQuestionThatAStopCutShortIsNotRecordedAndTheRunIsInterrupted)
{
    view.stopWhileAsked = &stop;
    plan.settingsVersion = sim::BoardOptions{}.versionText;
    const Outcome outcome = runUpgrade(plan, {board({}), view, stop, &clock, {}});
    ASSERT_EQ(view.boxes.size(), 1u);
    EXPECT_EQ(view.boxes[0].cause, Cause{QuestionKind::AlreadyFlashed});
    EXPECT_TRUE(outcome.report.questions.empty());
    EXPECT_EQ(outcome.result, flash::RunResult::Interrupted);
    EXPECT_EQ(recordsWritten().size(), 1u);
    EXPECT_TRUE(recordGuardHeld);
}

// A hang-up, say, that came once the board had answered every read.
TEST_F(SessionTest, AReadThatFinishedIsShownAndRecordedWhateverStopCameAfterIt)
{
    std::optional<link::BoardIdentity> shown;
    const Services stopping{board({}), view, stop, &clock, [] { return true; }};
    const BoardReadOutcome read = readBoard(plan.place, plan.settingsVersion, stopping,
                                            [&shown](const link::BoardIdentity& identity) { shown = identity; });
    EXPECT_EQ(read.result, flash::RunResult::Success);
    ASSERT_TRUE(shown);
    EXPECT_EQ(shown->boardVersionText, sim::BoardOptions{}.versionText);
    const auto records = recordsWritten();
    ASSERT_EQ(records.size(), 1u);
    EXPECT_EQ(records[0].record["result"], "success");
    EXPECT_EQ(records[0].record["board_version"], sim::BoardOptions{}.versionText);
    EXPECT_TRUE(recordGuardHeld);
    EXPECT_TRUE(waitForPendingRecords(std::chrono::milliseconds(0)));
}

struct ExitCase {
    std::vector<flash::RunResult> results; // one run's, or a bench's, one per port
    StopSignal signal;
    int status;
};

class ExitStatus : public ::testing::TestWithParam<ExitCase> {};

TEST_P(ExitStatus, ASignalThatStoppedARunOutweighsAFailureWhichOutweighsADecline)
{
    EXPECT_EQ(exitStatusFor(GetParam().results, GetParam().signal), GetParam().status);
}

using R = flash::RunResult;
INSTANTIATE_TEST_SUITE_P(
    Results, ExitStatus,
    ::testing::Values(ExitCase{{R::Success, R::Success}, StopSignal::None, 0},
                      ExitCase{{R::Success, R::Declined}, StopSignal::None, 3},
                      ExitCase{{R::Declined, R::Failure, R::Success}, StopSignal::None, 1},
                      ExitCase{{R::Success, R::Interrupted}, StopSignal::None, 1},
                      // a hang-up lets a run past the erase finish: the status is the run's own
                      ExitCase{{R::Success}, StopSignal::HangUp, 0},
                      ExitCase{{R::Failure, R::Interrupted}, StopSignal::HangUp, 129},
                      ExitCase{{R::Interrupted}, StopSignal::Quit, 131},
                      ExitCase{{R::Interrupted}, StopSignal::User1, 138},
                      ExitCase{{R::Interrupted}, StopSignal::User2, 140},
                      ExitCase{{R::Interrupted}, StopSignal::Alarm, 142},
                      ExitCase{{R::Declined, R::Interrupted}, StopSignal::Terminate, 143}));

// Two boards on COM1 and COM3, each on in-memory lines and a clock of its own.
class BenchTest : public SessionTest {
protected:
    class Views final : public BenchView {
    public:
        RunView& files() override { return files_; }
        RunView& port(std::size_t row) override { return ports_[row]; }
        void portEnded(std::size_t row, const PortOutcome& outcome) override { ended_[row] = outcome.port; }

        RecordingView files_;
        RecordingView ports_[2];
        int ended_[2] = {};
    };

    BenchTest()
    {
        fs::copy(FIELDKIT_EXAMPLES_DIR, folder.path(), fs::copy_options::recursive);
        std::ofstream(folder / "AppConfig.ini") << "[Firmware]\nVersion=R09.00.00\n";
        bench.ports = {1, 3};
        bench.settingsFile = folder / "AppConfig.ini";
        bench.firmwareDirectory = folder.path();
        bench.line = [this](int port) {
            // Made before any run starts: only the bench's own guard can be held here.
            recordGuardHeld = !waitForPendingRecords(std::chrono::milliseconds(0));
            auto& endpoint = *endpoints.emplace_back(std::make_unique<sim::BoardEndpoint>(sim::BoardOptions{}));
            return BenchLine{[&endpoint](Clock&) {
                                 return std::make_unique<link::SerialBoardLink>(
                                     [&endpoint](int) { return std::make_unique<sim::InMemoryChannel>(endpoint); });
                             },
                             "board-" + std::to_string(port), &clocks[endpoints.size() - 1]};
        };
    }

    BenchOutcome run() { return runBench(bench, views, stop, [this] { return stop.requested(); }); }

    BenchPlan bench;
    Views views;
    std::vector<std::unique_ptr<sim::BoardEndpoint>> endpoints;
    testing::FakeClock clocks[2];
};

TEST_F(BenchTest, TheFilesAreReadAndAskedAboutOnceForEveryBoard)
{
    // A record with a wrong checksum: a boot code file with errors, which asks whether to go on.
    std::ofstream(folder / "corvo_boot.s19", std::ios::app) << "S1130000000102030405060708090A0B0C0D0E0F00\n";
    const BenchOutcome outcome = run();
    ASSERT_TRUE(outcome.filesUsable);
    ASSERT_EQ(views.files_.boxes.size(), 1u);
    EXPECT_EQ(views.files_.boxes[0].cause, Cause{QuestionKind::BootFileErrors});
    EXPECT_FALSE(views.files_.boxes[0].hint.empty());
    EXPECT_TRUE(whereBoardsStand(outcome).empty()) << "no run was stopped";
    EXPECT_TRUE(recordGuardHeld) << "a console closing waits for the bench's records";
    const auto stored = recordsWritten();
    ASSERT_EQ(stored.size(), 2u);
    for (std::size_t row = 0; row < 2; ++row) {
        EXPECT_TRUE(views.ports_[row].boxes.empty());
        EXPECT_EQ(outcome.ports[row].result, flash::RunResult::Success);
        EXPECT_EQ(views.ended_[row], bench.ports[row]);
        EXPECT_EQ(outcome.ports[row].device, "board-" + std::to_string(bench.ports[row]));
        EXPECT_EQ(stored[row].record["questions"][0]["kind"], "boot_file_errors") << stored[row].record.dump();
    }
}

TEST_F(BenchTest, FilesThatCannotBeUsedAreEveryPortsRunAndNoBoardsLineIsMade)
{
    fs::remove(folder / "corvo_boot.s19");
    bench.simulated = true;
    const BenchOutcome outcome = run();
    EXPECT_FALSE(outcome.filesUsable);
    EXPECT_TRUE(endpoints.empty());
    const auto stored = recordsWritten();
    ASSERT_EQ(stored.size(), 2u);
    for (std::size_t row = 0; row < 2; ++row) {
        const PortOutcome& port = outcome.ports[row];
        EXPECT_FALSE(port.started);
        EXPECT_EQ(port.result, flash::RunResult::Failure);
        EXPECT_EQ(port.report.failure, FailureKind::BootFileUnreadable);
        EXPECT_EQ(port.failureHint.rfind("Hint: corvo_boot.s19 was not found in ", 0), 0u) << port.failureHint;
        EXPECT_EQ(views.ended_[row], bench.ports[row]);
        EXPECT_EQ(stored[row].record["port"], "COM" + std::to_string(bench.ports[row]));
        EXPECT_EQ(stored[row].record["device"], "") << "no emulated board was started for it";
        EXPECT_EQ(stored[row].record["failure_kind"], "boot_file_unreadable");
    }
}

class BenchStop : public BenchTest, public ::testing::WithParamInterface<UpgradeStage> {};

// Stopped at a stage every port has reached: each run ends there, is recorded, and says where
// its board stands.
TEST_P(BenchStop, EndsEveryRunAtItsNextSafePointAndSaysWhereEachBoardStands)
{
    const UpgradeStage stage = GetParam();
    Arrivals allThere(2);
    if (stage == UpgradeStage::LoadingFiles) {
        std::ofstream(folder / "corvo_boot.s19", std::ios::app) << "S1130000000102030405060708090A0B0C0D0E0F00\n";
        views.files_.stopWhileAsked = &stop;
    } else {
        for (auto& port : views.ports_)
            port.stopOnEntering.emplace(RecordingView::StopOnEntering{stage, allThere, stop});
    }
    const BenchOutcome outcome = run();
    EXPECT_EQ(outcome.filesUsable, stage != UpgradeStage::LoadingFiles);
    const auto stored = recordsWritten();
    ASSERT_EQ(stored.size(), 2u);
    const auto standing = whereBoardsStand(outcome);
    ASSERT_EQ(standing.size(), 2u);
    for (std::size_t row = 0; row < 2; ++row) {
        const PortOutcome& port = outcome.ports[row];
        EXPECT_EQ(port.result, flash::RunResult::Interrupted);
        EXPECT_EQ(port.report.stage, stage);
        EXPECT_EQ(stored[row].record["result"], "interrupted");
        EXPECT_EQ(standing[row], "COM" + std::to_string(bench.ports[row]) + ": " + afterStopText(stage));
        EXPECT_EQ(standing[row].find("holds no whole firmware") != std::string::npos, boardChangedFrom(stage));
    }
}

INSTANTIATE_TEST_SUITE_P(Stages, BenchStop,
                         ::testing::Values(UpgradeStage::LoadingFiles, UpgradeStage::Connecting, UpgradeStage::Erasing,
                                           UpgradeStage::WritingApplication),
                         [](const auto& info) { return std::string(keyOf(info.param)); });

} // namespace
} // namespace fieldkit::session
