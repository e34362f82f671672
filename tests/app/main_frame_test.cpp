#include "app/resource.h"
#include "tests/app/app_fixture.h"
#include "tests/support/fake_clock.h"

#include <QAction>
#include <QComboBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QToolBar>
#include <QToolButton>

namespace fieldkit::app {
namespace {

constexpr int kBusyCommands[] = {ID_UPGRADE, ID_FILE_CLOSE, ID_COM_PORT, ID_BOARD_INFO};

QWidget* toolButton(CMainFrame& frame, int id)
{
    return frame.findChild<QToolBar*>()->widgetForAction(frame.CommandAction(id));
}

struct PortSettingCase {
    const char* name;
    const char* file;
    int port;
    bool warns;
};

class PortSettingAtStart : public AppTest, public ::testing::WithParamInterface<PortSettingCase> {};

TEST_P(PortSettingAtStart, SetsThePortOrWarnsCentredOnTheShownWindowAndFallsBackToComOne)
{
    writeFile("AppConfig.ini", GetParam().file);
    ModalAnswerer answerer;
    QRect boxPlace;
    bool windowShown = false;
    answerer.then([&](QWidget* box) {
        boxPlace = box->geometry();
        windowShown = frame().isVisible();
        static_cast<QMessageBox*>(box)->button(QMessageBox::Ok)->click();
    });
    start();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&frame()));
    if (GetParam().warns)
        EXPECT_TRUE(waitFor([&] { return !answerer.boxes.empty(); }, 5));
    else
        QTest::qWait(50);
    EXPECT_EQ(frame().GetPort(), GetParam().port);
    ASSERT_EQ(answerer.boxes.size(), GetParam().warns ? 1U : 0U);
    if (GetParam().warns) {
        // Shown over the window in its final size and place, not before it was on screen.
        EXPECT_TRUE(windowShown);
        const QPoint offset = boxPlace.center() - frame().geometry().center();
        EXPECT_LE(offset.manhattanLength(), 8) << "box centre off the window's by " << offset.x() << ", " << offset.y();
        EXPECT_EQ(answerer.boxes[0].text,
                  QStringLiteral("No valid COM port setting found in .ini file.  Using default of COM1."));
        EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Warning"));
        EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::Warning);
        EXPECT_EQ(answerer.boxes[0].buttons, QMessageBox::Ok);
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, PortSettingAtStart,
                         ::testing::Values(PortSettingCase{"NoFile", "", 1, false},
                                           PortSettingCase{"LowerCase", "[SerialPort]\nPortNumber=com3\n", 3, false},
                                           PortSettingCase{"NoPrefix", "[SerialPort]\nPortNumber=3\n", 1, false},
                                           PortSettingCase{"OutOfRange", "[SerialPort]\nPortNumber=COM5\n", 1, true},
                                           PortSettingCase{"NoNumber", "[SerialPort]\nPortNumber=COMx\n", 1, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, FirmwareVersionSettingIsCutToThirteenCharactersAndHandedOutWithItsNul)
{
    writeFile("AppConfig.ini", "[Firmware]\nVersion=ABCDEFGHIJKLMNOP\n");
    start();
    char buffer[14];
    std::fill(std::begin(buffer), std::end(buffer), 'z');
    EXPECT_EQ(frame().GetFirmwareVersion(buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "ABCDEFGHIJKLM");

    char small[13];
    std::fill(std::begin(small), std::end(small), 'z');
    EXPECT_EQ(frame().GetFirmwareVersion(small, sizeof small), 14);
    EXPECT_EQ(small[0], 'z');
}

TEST_F(AppTest, ToolBarHasFourButtonsWithTipsAndSharpImagesAtBothScales)
{
    start();
    const QList<QAction*> buttons = frame().findChild<QToolBar*>()->actions();
    ASSERT_EQ(buttons.size(), 4);
    const int ids[] = {ID_UPGRADE, ID_COM_PORT, ID_BOARD_INFO, ID_HOW_TO};
    const char* tips[] = {"Upgrade Lodestar board firmware", "Select COM port", "Lodestar board information",
                          "How to use FieldKit"};
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(buttons[i], frame().CommandAction(ids[i]));
        EXPECT_EQ(buttons[i]->toolTip(), QString::fromLatin1(tips[i]));
        const QList<QSize> sizes = buttons[i]->icon().availableSizes();
        EXPECT_TRUE(sizes.contains(QSize(17, 17)) && sizes.contains(QSize(34, 34))) << i;
    }
}

TEST_F(AppTest, MessagePaneShowsAButtonsPromptWhileThePointerRestsOnItThenReady)
{
    start();
    activate(frame());
    QWidget* comPortButton = toolButton(frame(), ID_COM_PORT);
    QTest::mouseMove(comPortButton);
    EXPECT_TRUE(waitFor([&] { return frame().statusBar()->currentMessage() == QStringLiteral("Select COM port"); }, 2));
    QTest::mouseMove(frame().centralWidget(), QPoint(5, 5));
    EXPECT_TRUE(waitFor([&] { return frame().statusBar()->currentMessage() == QStringLiteral("Ready"); }, 2));
}

TEST_F(AppTest, CtrlCWithTheFocusInTheTextBoxOpensTheComPortDialog)
{
    writeFile("Info.txt", "some text to copy\r\n");
    start();
    activate(frame());
    view().infoText()->setFocus();
    view().infoText()->selectAll();
    ModalAnswerer answerer;
    answerer.then([](QWidget* dialog) { static_cast<QDialog*>(dialog)->reject(); });
    QTest::keyClick(view().infoText(), Qt::Key_C, Qt::ControlModifier);
    EXPECT_EQ(answerer.dialogs, std::vector<QString>{QStringLiteral("COM Port Setting")});
}

// Chooses `entry` in the COM port dialog and presses OK or Cancel.
ModalAnswerer::Action choosePort(int entry, bool ok, int* shownEntry)
{
    return [=](QWidget* dialog) {
        auto* combo = dialog->findChild<QComboBox*>();
        *shownEntry = combo->currentIndex();
        combo->setCurrentIndex(entry);
        const char* button = ok ? "&OK" : "&Cancel";
        for (auto* push : dialog->findChildren<QPushButton*>())
            if (push->text() == QLatin1String(button))
                push->click();
    };
}

struct ComPortCase {
    const char* name;
    int entry;
    bool ok;
    int portAfter;
    bool written;
};

class ComPortCommand : public AppTest, public ::testing::WithParamInterface<ComPortCase> {};

TEST_P(ComPortCommand, WritesTheSettingOnlyForOkOnAnotherPort)
{
    // Written in a form the program would not write itself, so any rewrite shows.
    const std::string original = "; bench 4\n[SerialPort]\nPortNumber = com3\n[Firmware]\nVersion=R07.12.00\n";
    writeFile("AppConfig.ini", original);
    start();
    int shownEntry = -1;
    ModalAnswerer answerer;
    answerer.then(choosePort(GetParam().entry, GetParam().ok, &shownEntry));
    frame().CommandAction(ID_COM_PORT)->trigger();
    EXPECT_EQ(shownEntry, 2);
    EXPECT_EQ(frame().GetPort(), GetParam().portAfter);
    const std::string after = readFile("AppConfig.ini");
    if (GetParam().written) {
        EXPECT_EQ(settings::readPortSetting("AppConfig.ini").port, GetParam().portAfter);
        EXPECT_NE(after.find("; bench 4\n"), std::string::npos);
        EXPECT_NE(after.find("Version=R07.12.00"), std::string::npos);
    } else {
        EXPECT_EQ(after, original);
    }
    EXPECT_TRUE(answerer.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Cases, ComPortCommand,
                         ::testing::Values(ComPortCase{"OkOnAnotherPort", 0, true, 1, true},
                                           ComPortCase{"CancelOnAnotherPort", 0, false, 3, false},
                                           ComPortCase{"OkOnTheSamePort", 2, true, 3, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, FailedPortSettingWriteWarnsAndKeepsTheNewPortForThisRun)
{
    FrameServices services;
    services.settingsFile = "no-such-folder/AppConfig.ini";
    start(services);
    int shownEntry = -1;
    ModalAnswerer answerer;
    answerer.then(choosePort(1, true, &shownEntry)).thenClick(QMessageBox::Ok);
    frame().CommandAction(ID_COM_PORT)->trigger();
    EXPECT_EQ(frame().GetPort(), 2);
    ASSERT_EQ(answerer.boxes.size(), 1U);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::Warning);
    EXPECT_TRUE(answerer.boxes[0].text.contains(QStringLiteral("COM2"))) << answerer.boxes[0].text.toStdString();
    EXPECT_FALSE(std::filesystem::exists("no-such-folder"));
}

TEST_F(AppTest, HowToBoxHasItsTextAndNoIcon)
{
    start();
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Ok);
    frame().CommandAction(ID_HOW_TO)->trigger();
    ASSERT_EQ(answerer.boxes.size(), 1U);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("How to use FieldKit"));
    EXPECT_EQ(answerer.boxes[0].text.toStdString(), IDS_HOW_TO_TEXT);
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::NoIcon);
}

TEST_F(AppTest, ClosingWhileIdleAsksNothing)
{
    start();
    ModalAnswerer answerer;
    EXPECT_TRUE(frame().close());
    EXPECT_TRUE(answerer.boxes.empty());
}

// An upgrade held on its first write to the board, so the window stays busy.
class BusyFrameTest : public AppTest {
protected:
    void SetUp() override
    {
        board_.holdWrite(1);
        start(emulated(board_, clock_));
        activate(frame());
        QTest::mouseClick(view().m_btnUpgrade, Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return board_.holding(); }));
        opensWhenHeld_ = board_.opens();
    }
    void TearDown() override
    {
        board_.release();
        app_.reset();
    }

    EmulatedBoard board_;
    testing::FakeClock clock_;
    int opensWhenHeld_ = 0;
};

TEST_F(BusyFrameTest, CommandsThatWouldDisturbTheUpgradeAreRefusedFromEverySource)
{
    EXPECT_TRUE(frame().IsBusy());
    EXPECT_FALSE(view().m_btnUpgrade->isEnabled());
    for (const int id : kBusyCommands) {
        EXPECT_FALSE(frame().CommandAction(id)->isEnabled()) << id;
        if (QWidget* button = toolButton(frame(), id)) {
            EXPECT_FALSE(button->isEnabled()) << id;
        }
    }
    EXPECT_TRUE(frame().CommandAction(ID_HOW_TO)->isEnabled());
    EXPECT_TRUE(toolButton(frame(), ID_HOW_TO)->isEnabled());
    EXPECT_TRUE(frame().CommandAction(ID_APP_ABOUT)->isEnabled());

    ModalAnswerer answerer;
    for (const Qt::Key key : {Qt::Key_U, Qt::Key_C, Qt::Key_E, Qt::Key_N})
        QTest::keyClick(&frame(), key, Qt::ControlModifier);
    for (const int id : kBusyCommands) {
        frame().CommandAction(id)->trigger();
        frame().OnCommand(id);
    }
    QTest::mouseClick(view().m_btnUpgrade, Qt::LeftButton);
    frame().StartUpgrade();
    QTest::qWait(50);
    EXPECT_TRUE(answerer.boxes.empty());
    EXPECT_TRUE(answerer.dialogs.empty());
    EXPECT_TRUE(frame().isVisible());
    EXPECT_EQ(board_.opens(), opensWhenHeld_) << "no second upgrade or board read reached the board";

    // The same keyboard reaches a command that stays available.
    answerer.then([](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
    QTest::keyClick(&frame(), Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(answerer.dialogs, std::vector<QString>{QStringLiteral("About FieldKit")});
}

TEST_F(BusyFrameTest, HowToAndAboutStayAvailable)
{
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Ok).then([](QWidget* dialog) { static_cast<QDialog*>(dialog)->accept(); });
    QTest::mouseClick(toolButton(frame(), ID_HOW_TO), Qt::LeftButton);
    activate(frame());
    QTest::keyClick(&frame(), Qt::Key_A, Qt::ControlModifier);
    ASSERT_EQ(answerer.boxes.size(), 1U);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("How to use FieldKit"));
    EXPECT_EQ(answerer.dialogs, std::vector<QString>{QStringLiteral("About FieldKit")});
}

TEST_F(BusyFrameTest, CloseGuardAnsweredNoKeepsTheUpgradeGoing)
{
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::No);
    EXPECT_FALSE(frame().close());
    ASSERT_EQ(answerer.boxes.size(), 1U);
    EXPECT_EQ(answerer.boxes[0].text.toStdString(), IDS_QUIT_WHILE_FLASHING);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Warning"));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::Warning);
    EXPECT_EQ(answerer.boxes[0].buttons, QMessageBox::Yes | QMessageBox::No);
    EXPECT_EQ(answerer.boxes[0].defaultButton, QMessageBox::No);
    EXPECT_TRUE(frame().isVisible());

    // The board carries on to the end: the settings version differs from the board's, so
    // no question comes, and the done box closes the run.
    answerer.thenClick(QMessageBox::Ok);
    board_.release();
    ASSERT_TRUE(waitFor([&] { return !frame().IsBusy(); }, 60));
    ASSERT_EQ(answerer.boxes.size(), 2U);
    EXPECT_EQ(answerer.boxes[1].text, QStringLiteral("Flashing completed successfully"));
}

TEST_F(BusyFrameTest, CloseGuardAnsweredYesEndsTheUpgradeAndReleasesThePort)
{
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Yes);
    EXPECT_TRUE(frame().close());
    EXPECT_FALSE(frame().isVisible());

    // What the program does after its event loop ends: the frame goes, and with it the
    // upgrade thread, which must give the port back and touch the board no more.
    board_.release();
    app_.reset();
    EXPECT_EQ(board_.openLines(), 0);
    EXPECT_EQ(board_.writes(), 1) << "the held ping was the last request the board saw";
    EXPECT_EQ(answerer.boxes.size(), 1U) << "no error or done box after the user chose to quit";
}

} // namespace
} // namespace fieldkit::app
