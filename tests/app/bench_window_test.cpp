#include "app/bench_pane.h"
#include "app/bench_ports_dlg.h"
#include "app/bench_window.h"
#include "history/history_file.h"
#include "session/endings.h"
#include "settings/profile.h"
#include "tests/app/app_fixture.h"
#include "tests/support/environment_variable.h"
#include "tests/support/fake_clock.h"

#include <QCheckBox>
#include <QLabel>
#include <QPlainTextEdit>
#include <QSignalSpy>
#include <QTimer>

#include <optional>

namespace fieldkit::app {
namespace {

// The bench on COM1 and COM3, each board emulated on in-memory lines with a clock of its own,
// and the upgrade history in the test's folder.
class BenchWindowTest : public AppTest {
protected:
    BenchWindowTest()
    {
        writeFile("AppConfig.ini", "[Firmware]\nVersion=R09.00.00\n");
        services.settingsFile = "AppConfig.ini";
        services.firmwareDirectory = FIELDKIT_EXAMPLES_DIR;
        services.line = [this](int port) {
            const std::size_t row = port == 1 ? 0 : 1;
            return session::BenchLine{[links = boards[row]->links()](Clock&) { return links(); },
                                      "board-" + std::to_string(port), &clocks[row]};
        };
    }

    BenchWindow& open()
    {
        window = std::make_unique<BenchWindow>(std::vector<int>{1, 3}, services);
        window->show();
        return *window;
    }
    bool ended() const { return !window->IsRunning(); }
    // The records by port: the runs end, and are recorded, in any order.
    std::map<std::string, history::Record> records() const
    {
        std::map<std::string, history::Record> stored;
        if (const auto contents = history::readHistory(historyFile, nullptr))
            for (const auto& record : contents->records)
                stored[record.record["port"]] = record.record;
        return stored;
    }

    const std::filesystem::path historyFile = std::filesystem::current_path() / "history.jsonl";
    testing::EnvironmentVariable history{"FIELDKIT_HISTORY", historyFile.string()};
    std::unique_ptr<EmulatedBoard> boards[2];
    testing::FakeClock clocks[2];
    BenchServices services;
    std::unique_ptr<BenchWindow> window;
};

TEST_F(BenchWindowTest, UpgradeAllUpgradesEveryBoardAndTheFinishedBoxListsEachResult)
{
    sim::BoardOptions failing;
    failing.esn = 0x12345678;
    failing.failPageWriteAt[0xA8000] = 99; // a page of the application code, for good
    boards[0] = std::make_unique<EmulatedBoard>();
    boards[1] = std::make_unique<EmulatedBoard>(failing);
    open();
    QSignalSpy progress(window.get(), &BenchWindow::progressChanged);
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Ok);

    window->upgradeAllAction()->trigger();
    ASSERT_TRUE(waitFor([&] { return ended(); }, 60));
    ASSERT_EQ(answerer.boxes.size(), 1U);
    EXPECT_EQ(answerer.unexpected, 0);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Bench finished"));
    const QStringList lines = answerer.boxes[0].text.split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 2);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("COM1: success, "))) << lines[0].toStdString();
    EXPECT_TRUE(lines[1].startsWith(QStringLiteral("COM3: failed, "))) << lines[1].toStdString();
    EXPECT_TRUE(lines[1].endsWith(QStringLiteral(": Failed to write to application code area."))) << lines[1].toStdString();

    BenchPane& good = *window->pane(0);
    EXPECT_EQ(good.device()->text(), QStringLiteral("board-1"));
    EXPECT_TRUE(good.result()->text().startsWith(QStringLiteral("success, ")));
    EXPECT_TRUE(good.step()->text().startsWith(QStringLiteral("Ready - Took ")));
    EXPECT_EQ(good.message()->toPlainText(), QString());
    BenchPane& failed = *window->pane(1);
    EXPECT_EQ(failed.esn()->text(), QStringLiteral("305419896"));
    EXPECT_EQ(failed.version()->text(), QString::fromLatin1(sim::kDefaultVersionText));
    const QString message = failed.message()->toPlainText();
    EXPECT_TRUE(message.startsWith(QStringLiteral("Failed to write to application code area.\n\nPlease turn the radio off")))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("\n\nHint: the board refused a page of the application code")))
        << message.toStdString();

    // The caption counted up to the whole bench and came back; each run is recorded.
    ASSERT_FALSE(progress.isEmpty());
    EXPECT_EQ(progress.last().at(0).toInt(), progress.last().at(1).toInt());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("FieldKit Bench"));
    const auto stored = records();
    ASSERT_EQ(stored.size(), 2U);
    EXPECT_EQ(stored.at("COM1")["result"], "success");
    EXPECT_EQ(stored.at("COM1")["device"], "board-1");
    EXPECT_EQ(stored.at("COM3")["esn"], 0x12345678);
    EXPECT_EQ(stored.at("COM3")["failure_kind"], "application_write");
    EXPECT_EQ(boards[0]->openLines() + boards[1]->openLines(), 0);
}

TEST_F(BenchWindowTest, AQuestionAboutOneBoardIsABoxTitledWithItsPortWhileTheOtherBoardGoesOn)
{
    sim::BoardOptions alreadyFlashed;
    alreadyFlashed.versionText = "R09.00.00";
    boards[0] = std::make_unique<EmulatedBoard>(alreadyFlashed);
    boards[1] = std::make_unique<EmulatedBoard>();
    open();
    ModalAnswerer answerer;
    // COM1's question waits until COM3's run has ended.
    answerer
        .then([this](QWidget* box) {
            ASSERT_TRUE(waitFor([&] { return window->pane(1)->result()->text() != QStringLiteral("-"); }, 60));
            static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
        })
        .thenClick(QMessageBox::Ok);

    window->UpgradeAll();
    ASSERT_TRUE(waitFor([&] { return ended(); }, 60));
    ASSERT_EQ(answerer.boxes.size(), 2U);
    EXPECT_EQ(answerer.unexpected, 0);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("COM1"));
    EXPECT_EQ(answerer.boxes[0].text,
              QStringLiteral("The Lodestar board is already flashed with\nfirmware version R09.00.00.\n\nFlash anyway?"));
    EXPECT_EQ(answerer.boxes[0].defaultButton, QMessageBox::No);
    EXPECT_TRUE(answerer.boxes[1].text.startsWith(QStringLiteral("COM1: success, ")));
    EXPECT_TRUE(window->pane(1)->result()->text().startsWith(QStringLiteral("success, ")));
}

TEST_F(BenchWindowTest, ClosingDuringARunAsksStopsEveryBoardAndSaysWhereEachStands)
{
    boards[0] = std::make_unique<EmulatedBoard>();
    boards[1] = std::make_unique<EmulatedBoard>();
    // Both boards stop answering while their code is written, past their erase.
    for (auto& board : boards)
        board->holdWrite(60);
    open();
    QSignalSpy holding(window.get(), &BenchWindow::holdingChanged);
    window->UpgradeAll();
    ASSERT_TRUE(waitFor([&] { return boards[0]->holding() && boards[1]->holding(); }));
    ASSERT_TRUE(waitFor([&] { return !holding.isEmpty(); }));
    EXPECT_TRUE(holding.last().at(0).toBool()) << "log-off is held back while a board is past its erase";

    ModalAnswerer answerer;
    answerer
        .then([this](QWidget* box) {
            static_cast<QMessageBox*>(box)->button(QMessageBox::Yes)->click();
            for (auto& board : boards)
                board->release();
        })
        .thenClick(QMessageBox::Ok);
    window->close();
    ASSERT_TRUE(waitFor([&] { return !window->isVisible(); }, 60));
    ASSERT_EQ(answerer.boxes.size(), 2U);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(answerer.boxes[1].caption, QStringLiteral("Bench stopped"));
    const QString erased = QString::fromStdString(session::afterStopText(UpgradeStage::WritingBoot));
    EXPECT_EQ(answerer.boxes[1].text, QStringLiteral("COM1: ") + erased + QStringLiteral("\nCOM3: ") + erased);
    EXPECT_FALSE(holding.last().at(0).toBool());
    const auto stored = records();
    ASSERT_EQ(stored.size(), 2U);
    EXPECT_EQ(stored.at("COM1")["result"], "interrupted");
    EXPECT_EQ(stored.at("COM3")["result"], "interrupted");
}

// A signal from outside (kill, a terminal closed) while COM1's board is before its erase and
// COM3's past it.
TEST_F(BenchWindowTest, ASignalStopsTheBoardsBeforeTheirEraseLetsTheOthersFinishAndEndsWithTheBenchsStatus)
{
    boards[0] = std::make_unique<EmulatedBoard>();
    boards[1] = std::make_unique<EmulatedBoard>();
    boards[0]->holdWrite(1);
    boards[1]->holdWrite(40);
    open();
    session::StopSignal signal = session::StopSignal::None;
    std::optional<int> status;
    // The boards answer again once the bench has been asked to stop.
    ProgramEnding ending(
        *window,
        [&] {
            if (signal != session::StopSignal::None)
                QTimer::singleShot(0, window.get(), [this] {
                    for (auto& board : boards)
                        board->release();
                });
            return signal;
        },
        [&status](int ended) { status = ended; });
    ModalAnswerer answerer;
    window->UpgradeAll();
    ASSERT_TRUE(waitFor([&] { return boards[0]->holding() && boards[1]->holding() && window->IsPastErase(); }));

    AskingSession loggingOut(false);
    ending.onSessionEnding(loggingOut);
    EXPECT_TRUE(loggingOut.cancelled) << "a log-out is held back while a board is past its erase";

    signal = session::StopSignal::Terminate;
    ASSERT_TRUE(waitFor([&] { return status.has_value(); }, 60));
    EXPECT_EQ(*status, session::exitStatusFor(session::StopSignal::Terminate));
    EXPECT_TRUE(answerer.boxes.empty()) << "nobody may be there to read a box";
    const auto stored = records();
    ASSERT_EQ(stored.size(), 2U);
    EXPECT_EQ(stored.at("COM1")["result"], "interrupted");
    EXPECT_EQ(stored.at("COM1")["pages_written"], 0);
    EXPECT_EQ(stored.at("COM3")["result"], "success");
}

TEST_F(BenchWindowTest, TheChosenPortsAreKeptInTheSettingsFileAndGetAPaneEach)
{
    open();
    ModalAnswerer answerer;
    answerer.then([](QWidget* dialog) {
        auto* ports = static_cast<CBenchPortsDlg*>(dialog);
        ports->m_checks[0]->setChecked(false);
        ports->m_checks[1]->setChecked(true);
        ports->m_checks[3]->setChecked(true);
        ports->accept();
    });
    window->ChoosePorts();
    EXPECT_EQ(window->ports(), (std::vector<int>{2, 3, 4}));
    EXPECT_EQ(window->pane(2)->title(), QStringLiteral("COM&4"));
    EXPECT_EQ(settings::readProfileString("AppConfig.ini", "Bench", "Ports", "", 64), "COM2,COM3,COM4");
    EXPECT_EQ(session::readBenchPorts("AppConfig.ini"), (std::vector<int>{2, 3, 4}));
}

} // namespace
} // namespace fieldkit::app
