#include "app/bench_window.h"
#include "app/windows_shell.h"
#include "tests/app/app_fixture.h"
#include "tests/support/fake_clock.h"

#include <QAbstractEventDispatcher>

#include <windows.h>

namespace fieldkit::app {
namespace {

// What the window answers when Windows asks whether the session may end: nullopt when the
// program lets Windows go on, else the answer it gives.
std::optional<qintptr> answerToSessionEnd()
{
    MSG message{};
    message.message = WM_QUERYENDSESSION;
    message.lParam = ENDSESSION_LOGOFF;
    qintptr result = TRUE;
    if (!QAbstractEventDispatcher::instance()->filterNativeEvent("windows_generic_MSG", &message, &result))
        return std::nullopt;
    return result;
}

TEST_F(AppTest, LoggingOffIsHeldBackOnlyWhileAnUpgradeRuns)
{
    EmulatedBoard board;
    testing::FakeClock clock;
    board.holdWrite(1);
    start(emulated(board, clock));
    const WindowsShell shell(frame());
    EXPECT_EQ(answerToSessionEnd(), std::nullopt);

    activate(frame());
    QTest::mouseClick(view().m_btnUpgrade, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return board.holding(); }));
    EXPECT_EQ(answerToSessionEnd(), std::optional<qintptr>(FALSE));

    // The upgrade goes on to its end (the done box is answered): the session may end again.
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Ok);
    board.release();
    ASSERT_TRUE(waitFor([&] { return !frame().IsBusy(); }, 120));
    EXPECT_EQ(answerToSessionEnd(), std::nullopt);
}

// On a bench, only a board past its erase holds the session: before it nothing is lost.
TEST_F(AppTest, OnABenchLoggingOffIsHeldBackOnlyWhileABoardIsPastItsErase)
{
    writeFile("AppConfig.ini", "[Firmware]\nVersion=R09.00.00\n");
    EmulatedBoard board;
    testing::FakeClock clock;
    board.holdWrite(60);
    BenchServices services;
    services.settingsFile = "AppConfig.ini";
    services.firmwareDirectory = FIELDKIT_EXAMPLES_DIR;
    services.line = [&](int) { return session::BenchLine{[&](Clock&) { return board.links()(); }, "board", &clock}; };
    BenchWindow bench({2}, services);
    const WindowsShell shell(bench);
    bench.show();
    EXPECT_EQ(answerToSessionEnd(), std::nullopt);
    bench.UpgradeAll();
    ASSERT_TRUE(waitFor([&] { return board.holding(); }));
    ASSERT_TRUE(waitFor([&] { return answerToSessionEnd().has_value(); }));
    EXPECT_EQ(answerToSessionEnd(), std::optional<qintptr>(FALSE));

    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Ok);
    board.release();
    ASSERT_TRUE(waitFor([&] { return !bench.IsRunning(); }, 120));
    EXPECT_EQ(answerToSessionEnd(), std::nullopt);
}

} // namespace
} // namespace fieldkit::app
