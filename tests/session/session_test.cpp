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
#include "tests/support/recording_notices.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <stdexcept>

namespace fieldkit::session {
namespace {

namespace fs = std::filesystem;

// Boxes with the hint each one was shown with; a question can stand for the user stopping
// the run while it is open.
class HintedPrompts final : public Prompts {
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

    HintSource hints;
    std::vector<Box> boxes;
    UpgradeStop* stopWhileAsked = nullptr;

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
    HintedPrompts prompts;
    testing::RecordingNotices notices;
    UpgradeStop stop;
    UpgradePlan plan{{2, "board", true}, "R09.00.00", nullptr, FIELDKIT_EXAMPLES_DIR, nullptr};
};

TEST_F(SessionTest, ALinkThatCannotBeMadeFailsTheRunForTheWindowAndTheRecord)
{
    const LinkFactory broken = [](Clock&) -> std::unique_ptr<link::BoardLink> { throw std::runtime_error("no cable"); };
    const Outcome upgrade = runUpgrade(plan, {broken, prompts, stop, &notices, &clock, {}, nullptr});
    EXPECT_EQ(upgrade.result, flash::RunResult::Failure);
    EXPECT_EQ(upgrade.report.failure, FailureKind::Unexpected);
    EXPECT_EQ(notices.notices.back().code, UPG_FINISHED);
    EXPECT_EQ(notices.notices.back().argument, static_cast<std::uint32_t>(UPG_RESULT_FAILURE));

    const BoardReadOutcome read = readBoard(plan.place, plan.settingsVersion,
                                            {broken, prompts, stop, nullptr, &clock, {}, nullptr}, nullptr);
    EXPECT_EQ(read.result, flash::RunResult::Failure);
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[1].cause, Cause{FailureKind::Unexpected});
    EXPECT_EQ(recordsWritten().size(), 2u);
    EXPECT_FALSE(upgrade.recorded.notWritten || read.recorded.notWritten);
}

TEST_F(SessionTest, ABoxGetsItsHintDuringTheRunAndTheHintsGoWithIt)
{
    const BoardReadOutcome read =
        readBoard(plan.place, plan.settingsVersion, {board({"--no-ping"}), prompts, stop, nullptr, &clock, {}, nullptr},
                  [](const link::BoardIdentity&) { ADD_FAILURE() << "nothing was read"; });
    EXPECT_EQ(read.failure->kind, FailureKind::Ping);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_FALSE(prompts.boxes[0].hint.empty());
    EXPECT_FALSE(prompts.hints) << "the hints read a link that is gone";
}

TEST_F(SessionTest, AQuestionThatAStopCutShortIsNotRecordedAndTheRunIsInterrupted)
{
    prompts.stopWhileAsked = &stop;
    plan.settingsVersion = sim::BoardOptions{}.versionText;
    const Outcome outcome = runUpgrade(plan, {board({}), prompts, stop, &notices, &clock, {}, nullptr});
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].cause, Cause{QuestionKind::AlreadyFlashed});
    EXPECT_TRUE(outcome.report.questions.empty());
    EXPECT_EQ(outcome.result, flash::RunResult::Interrupted);
    EXPECT_EQ(recordsWritten().size(), 1u);
    EXPECT_TRUE(recordGuardHeld);
}

// A hang-up, say, that came once the board had answered every read.
TEST_F(SessionTest, AReadThatFinishedIsShownAndRecordedWhateverStopCameAfterIt)
{
    std::optional<link::BoardIdentity> shown;
    const Services stopping{board({}), prompts, stop, nullptr, &clock, [] { return true; }, nullptr};
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

} // namespace
} // namespace fieldkit::session
