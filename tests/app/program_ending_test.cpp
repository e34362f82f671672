#include "app/program_ending.h"
#include "app/resource.h"
#include "history/history_file.h"
#include "tests/app/app_fixture.h"
#include "tests/support/environment_variable.h"
#include "tests/support/fake_clock.h"

#include <QPushButton>

namespace fieldkit::app {
namespace {

struct SessionEndRow {
    const char* name;
    int heldWrite; // the board holds this write of the upgrade; 0: no upgrade runs
    bool pastErase;
    bool mayAsk;
    QMessageBox::StandardButton answer; // to the close guard's question, when it comes
    bool cancelled;
    const char* recorded; // the run's record once the session's question is answered
};

class SessionEnding : public AppTest, public ::testing::WithParamInterface<SessionEndRow> {
protected:
    // The program ends as the session ends it: the window goes, and the upgrade with it.
    void TearDown() override
    {
        board.release();
        app_.reset();
    }

    // Kept until the window has gone: its thread still sends the record to the shop (when one
    // is named) after the run's end has been shown.
    const std::filesystem::path historyFile = std::filesystem::current_path() / "history.jsonl";
    const testing::EnvironmentVariable history{"FIELDKIT_HISTORY", historyFile.string()};
    EmulatedBoard board;
    testing::FakeClock clock;
};

TEST_P(SessionEnding, IsHeldBackOnlyPastTheEraseAndWaitsForARunStoppedBeforeIt)
{
    const auto& row = GetParam();
    board.holdWrite(row.heldWrite);
    start(emulated(board, clock));
    ProgramEnding ending(frame(), [] { return session::StopSignal::None; }, [](int) { ADD_FAILURE() << "ended"; });
    if (row.heldWrite != 0) {
        QTest::mouseClick(view().m_btnUpgrade, Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return board.holding(); }));
        ASSERT_EQ(board.endpoint().boardCounters().blocksErased, row.pastErase ? 5U : 0U);
        // The window knows it from the step's status text.
        ASSERT_TRUE(waitFor([&] { return frame().IsPastErase() == row.pastErase; }));
    }

    ModalAnswerer answerer;
    answerer.thenClick(row.answer);
    AskingSession session(row.mayAsk);
    // A run stopped before the erase reaches its safe point once the board answers; one past
    // the erase is still held while the session asks.
    if (!row.pastErase)
        QTimer::singleShot(0, &frame(), [this] { board.release(); });
    ending.onSessionEnding(session);
    const bool stillBusy = frame().IsBusy();
    std::string error;
    const auto records = history::readHistory(historyFile, &error);

    EXPECT_EQ(session.cancelled, row.cancelled);
    EXPECT_EQ(stillBusy, row.pastErase);
    const bool asked = row.mayAsk && row.pastErase;
    ASSERT_EQ(answerer.boxes.size(), asked ? 1U : 0U);
    if (asked) {
        EXPECT_EQ(answerer.boxes[0].text.toStdString(), IDS_QUIT_WHILE_FLASHING);
    }
    ASSERT_TRUE(records);
    if (row.recorded == nullptr) {
        EXPECT_TRUE(records->records.empty());
    } else {
        ASSERT_EQ(records->records.size(), 1U);
        EXPECT_EQ(records->records[0].record["result"], row.recorded);
        EXPECT_EQ(records->records[0].record["pages_written"], 0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, SessionEnding,
    ::testing::Values(SessionEndRow{"Idle", 0, false, true, QMessageBox::No, false, nullptr},
                      SessionEndRow{"BeforeTheErase", 1, false, true, QMessageBox::No, false, "interrupted"},
                      // the boot code's first pages
                      SessionEndRow{"PastTheEraseWithoutLeaveToAsk", 40, true, false, QMessageBox::No, true, nullptr},
                      SessionEndRow{"PastTheEraseAnsweredNo", 40, true, true, QMessageBox::No, true, nullptr},
                      SessionEndRow{"PastTheEraseAnsweredYes", 40, true, true, QMessageBox::Yes, false, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fieldkit::app
