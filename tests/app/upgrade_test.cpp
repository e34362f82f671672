#include "app/resource.h"
#include "core/stop.h"
#include "link/board_connection.h"
#include "link/stoppable_board_link.h"
#ifndef _WIN32
#include "link/qt_serial_channel.h"
#include "sim/pty_host.h"
#endif
#include "tests/app/app_fixture.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_link.h"

#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

#include <chrono>
#include <optional>
#include <thread>

namespace fieldkit::app {
namespace {

using namespace std::chrono_literals;

// What the window showed during a run: the message pane's texts (without repeats) and the
// document titles.
struct Display {
    explicit Display(CMainFrame& frame)
    {
        QObject::connect(frame.statusBar(), &QStatusBar::messageChanged, [this](const QString& text) {
            if (!text.isEmpty() && (messages.isEmpty() || messages.back() != text))
                messages << text;
        });
        QObject::connect(frame.GetActiveDocument(), &CUpgradeDoc::titleChanged,
                         [this](const QString& title) { titles << title; });
    }
    QStringList messages;
    QStringList titles;
};

TEST_F(AppTest, UpgradeStartedByTheButtonRunsToTheDoneBox)
{
    writeFile("AppConfig.ini", "[Firmware]\nVersion=R07.12.00\n");
    EmulatedBoard board;
    testing::FakeClock clock;
    start(emulated(board, clock));
    Display display(frame());
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Yes).thenClick(QMessageBox::Ok);

    QTest::mouseClick(view().m_btnUpgrade, Qt::LeftButton);
    ASSERT_TRUE(waitFor([&] { return !frame().IsBusy(); }, 60));

    ASSERT_EQ(answerer.boxes.size(), 2U);
    EXPECT_EQ(answerer.boxes[0].text,
              QStringLiteral("The Lodestar board is already flashed with\nfirmware version R07.12.00.\n\nFlash anyway?"));
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(answerer.boxes[0].defaultButton, QMessageBox::No);
    EXPECT_EQ(answerer.boxes[1].text, QStringLiteral("Flashing completed successfully"));
    EXPECT_EQ(answerer.unexpected, 0);

    ASSERT_FALSE(display.messages.isEmpty());
    const QString finalText = display.messages.takeLast();
    EXPECT_TRUE(finalText.startsWith(QStringLiteral("Ready - Took 0 minutes and "))) << finalText.toStdString();
    EXPECT_EQ(display.messages,
              QStringList({"Verifying the option board", "Erasing flash blocks", "Upgrading the boot code",
                           "Verifying the boot code", "Upgrading the application code",
                           "Verifying the application code"}));
    EXPECT_TRUE(display.titles.contains(QStringLiteral(" 100.0% Done")));
    EXPECT_EQ(display.titles.back(), QStringLiteral(" FieldKit"));
    EXPECT_EQ(view().m_progress->value(), 0);
    EXPECT_TRUE(view().m_btnUpgrade->isEnabled());
    EXPECT_EQ(board.openLines(), 0);
    EXPECT_GT(board.endpoint().counters().requests, 1000U);
}

TEST_F(AppTest, NoToTheVersionQuestionEndsTheRunWithReadyAndNoDoneBox)
{
    writeFile("AppConfig.ini", "[Firmware]\nVersion=R07.12.00\n");
    EmulatedBoard board;
    testing::FakeClock clock;
    start(emulated(board, clock));
    Display display(frame());
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::No);

    frame().CommandAction(ID_UPGRADE)->trigger();
    ASSERT_TRUE(waitFor([&] { return !frame().IsBusy(); }));
    EXPECT_EQ(answerer.boxes.size(), 1U);
    EXPECT_EQ(answerer.unexpected, 0);
    EXPECT_EQ(display.messages.back(), QStringLiteral("Ready"));
    EXPECT_EQ(board.openLines(), 0);
    EXPECT_TRUE(frame().CommandAction(ID_COM_PORT)->isEnabled());
}

TEST_F(AppTest, BoardThatDoesNotAnswerGivesTheErrorBoxWithTheApplicationTitle)
{
    sim::BoardOptions silent;
    silent.answerPing = false;
    EmulatedBoard board(silent);
    testing::FakeClock clock;
    start(emulated(board, clock));
    Display display(frame());
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Ok);

    frame().StartUpgrade();
    ASSERT_TRUE(waitFor([&] { return !frame().IsBusy(); }));
    ASSERT_EQ(answerer.boxes.size(), 1U);
    // The texts are checked with the board read's; here, that the hint follows in the same box.
    EXPECT_TRUE(answerer.boxes[0].text.startsWith(QString::fromLatin1(link::kPingFailed) + QStringLiteral("\n\nHint: ")));
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Upgrade"));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(display.messages.back(), QStringLiteral("Ready"));
    EXPECT_TRUE(view().m_btnUpgrade->isEnabled());
}

TEST_F(AppTest, StoppedLinkRefusesEverythingButClosingThePort)
{
    sim::BoardEndpoint endpoint(sim::BoardOptions{});
    link::SerialBoardLink serial([&](int) { return std::make_unique<sim::InMemoryChannel>(endpoint); });
    testing::RecordingLink recording(serial);
    UpgradeStop stop;
    link::StoppableBoardLink stoppable(recording, stop);
    ASSERT_EQ(stoppable.BriskDllInit("QM7731", "ZZQ83LKW4PXT0B", 52, 52), 0);
    ASSERT_EQ(stoppable.OpenPort(1), 0);

    stop.request();
    std::uint8_t data[4] = {};
    link::LinkTimers timers;
    EXPECT_NE(stoppable.ReadDataOnly(1, data, 0x0500, 4), 0);
    EXPECT_NE(stoppable.WriteDataOnly(1, data, 0x1201, 1, 0), 0);
    EXPECT_NE(stoppable.Ping_Opt_Board(1, data), 0);
    EXPECT_NE(stoppable.OpenPort(1), 0);
    EXPECT_NE(stoppable.ReadTimers(timers), 0);
    EXPECT_NE(stoppable.ConfigureTimers(timers), 0);
    EXPECT_NE(stoppable.BriskDllInit("QM7731", "ZZQ83LKW4PXT0B", 52, 52), 0);
    stoppable.ClosePort();

    ASSERT_EQ(recording.calls.size(), 3U);
    EXPECT_EQ(recording.calls[2].function, "ClosePort");
    EXPECT_EQ(recording.openPorts, 0);
}

TEST(StoppableClock, InjectedClockPausesUntilTheStopAndNotAfter)
{
    testing::FakeClock fake(1000);
    UpgradeStop stop;
    StoppableClock clock(&fake, stop);
    clock.sleep(200ms);
    EXPECT_EQ(clock.tickMs(), 1200U);
    stop.request();
    clock.sleep(2000ms);
    EXPECT_EQ(fake.pauses, std::vector<std::chrono::milliseconds>{200ms});
}

TEST(StoppableClock, RealTimePauseEndsWhenTheStopIsRequested)
{
    UpgradeStop stop;
    StoppableClock clock(nullptr, stop);
    const auto started = std::chrono::steady_clock::now();
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        stop.request();
    });
    clock.sleep(60s);
    stopper.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 30s);
}

#ifndef _WIN32 // the ports of this test are a pseudo-terminal and a device path
// The same hint the command line prints below "Failed to open serial port", as the box's
// second paragraph.
struct UnopenedPort {
    const char* name;
    bool held; // another program holds the emulator's line; else COM1 names no device
    const char* beforeDevice;
    const char* afterDevice;
};

class UpgradeOnAPortThatDoesNotOpen : public AppTest, public ::testing::WithParamInterface<UnopenedPort> {};

TEST_P(UpgradeOnAPortThatDoesNotOpen, ShowsTheCommandLinesHintInTheErrorBox)
{
    sim::PtyBoardHost host(sim::BoardOptions{});
    std::string error;
    ASSERT_TRUE(host.start(&error)) << error;
    const std::string device = GetParam().held ? host.devicePath() : "/nonexistent/ttyUSB9";
    std::optional<link::QtSerialChannel> otherProgram;
    if (GetParam().held) {
        otherProgram.emplace(device, 115200);
        ASSERT_TRUE(otherProgram->open().ok());
    }
    writeFile("AppConfig.ini", "[SerialPort]\nPortNumber=COM1\n[SerialDevices]\nCOM1=" + device + "\n");
    FrameServices services;
    services.firmwareDirectory = FIELDKIT_EXAMPLES_DIR;
    start(services);
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Ok);

    frame().StartUpgrade();
    ASSERT_TRUE(waitFor([&] { return !frame().IsBusy(); }));
    ASSERT_EQ(answerer.boxes.size(), 1U);
    EXPECT_EQ(answerer.boxes[0].text.toStdString(), "Failed to open serial port\n\nHint: " + std::string(GetParam().beforeDevice) + device +
                                                      GetParam().afterDevice);
}

INSTANTIATE_TEST_SUITE_P(
    Causes, UpgradeOnAPortThatDoesNotOpen,
    ::testing::Values(UnopenedPort{"NoSuchDevice", false, "COM1 is ",
                                   ", which does not exist. Plug in the programming cable, or map the port to its "
                                   "device with FIELDKIT_COM1=/dev/ttyUSB0 or in AppConfig.ini [SerialDevices]."},
                      UnopenedPort{"HeldByAnotherProgram", true, "", " is in use by another program. Close it and try again."}),
    [](const auto& info) { return std::string(info.param.name); });
#endif

} // namespace
} // namespace fieldkit::app
