#include "app/resource.h"
#ifndef _WIN32
#include "sim/pty_host.h"
#endif
#include "tests/app/app_fixture.h"

#include <QLineEdit>
#include <QPushButton>

#include <cstdlib>

namespace fieldkit::app {
namespace {

// What the board-information dialog showed, and whether the line was open meanwhile.
struct Shown {
    QString version;
    QString esn;
    int openLines = -1;
};

ModalAnswerer::Action readAndClose(Shown& shown, const EmulatedBoard* board)
{
    return [&shown, board](QWidget* dialog) {
        shown.version = dialog->findChild<QLineEdit*>(QStringLiteral("IDC_BOARD_FW_VERSION"))->text();
        shown.esn = dialog->findChild<QLineEdit*>(QStringLiteral("IDC_BOARD_ESN"))->text();
        if (board != nullptr)
            shown.openLines = board->openLines();
        static_cast<QDialog*>(dialog)->accept();
    };
}

struct BoardInfoCase {
    const char* name;
    std::vector<std::string> boardOptions;
    const char* version;
    const char* esn;
};

class BoardInfoCommand : public AppTest, public ::testing::WithParamInterface<BoardInfoCase> {};

TEST_P(BoardInfoCommand, ShowsVersionAndEsnWhileTheLineStaysOpen)
{
    EmulatedBoard board(sim::parseBoardOptions(GetParam().boardOptions));
    FrameServices services;
    services.makeLink = board.links();
    start(services);
    Shown shown;
    ModalAnswerer answerer;
    answerer.then(readAndClose(shown, &board));

    frame().CommandAction(ID_BOARD_INFO)->trigger();
    EXPECT_EQ(answerer.dialogs, std::vector<QString>{QStringLiteral("Option Board Information")});
    EXPECT_TRUE(answerer.boxes.empty());
    EXPECT_EQ(shown.version, QString::fromLatin1(GetParam().version));
    EXPECT_EQ(shown.esn, QString::fromLatin1(GetParam().esn));
    EXPECT_EQ(shown.openLines, 1);
    EXPECT_EQ(board.openLines(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BoardInfoCommand,
    ::testing::Values(
        BoardInfoCase{"Defaults", {"--esn", "305419896"}, "R07.12.00", "305419896"},
        BoardInfoCase{"TrailingSpacesKept", {"--version-hex", "4142312E32202000", "--esn", "1"}, "AB1.2  ", "1"},
        BoardInfoCase{"FifteenPrintableBytesShowThirteen", {"--version", "ABCDEFGHIJKLMNO", "--esn", "0xFFFFFFFF"},
                      "ABCDEFGHIJKLM", "-1"},
        BoardInfoCase{"EsnWithTopBitSetIsNegative", {"--esn", "0x80000000"}, "R07.12.00", "-2147483648"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BoardInfoFailure {
    const char* name;
    std::vector<std::string> boardOptions;
    const char* message;
};

class BoardInfoCommandFailure : public AppTest, public ::testing::WithParamInterface<BoardInfoFailure> {};

TEST_P(BoardInfoCommandFailure, ShowsTheStepsMessageNoDialogAndLeavesNoLineOpen)
{
    EmulatedBoard board(sim::parseBoardOptions(GetParam().boardOptions));
    FrameServices services;
    services.makeLink = board.links();
    start(services);
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Ok);

    frame().CommandAction(ID_BOARD_INFO)->trigger();
    EXPECT_TRUE(answerer.dialogs.empty());
    ASSERT_EQ(answerer.boxes.size(), 1U);
    EXPECT_EQ(answerer.boxes[0].text, QString::fromLatin1(GetParam().message));
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Upgrade"));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::Critical);
    EXPECT_EQ(board.openLines(), 0);
}

// COM1 with no mapping: the platform's own device.
#ifdef _WIN32
#define COM1_DEVICE "COM1"
#else
#define COM1_DEVICE "/dev/ttyS0"
#endif

INSTANTIATE_TEST_SUITE_P(
    Cases, BoardInfoCommandFailure,
    ::testing::Values(BoardInfoFailure{"BoardOff",
                                       {"--no-ping"},
                                       "Failed to communicate with the option board.\n\n"
                                       "Please switch the radio to a Lodestar zone.\n\n"
                                       "Hint: nothing came back on COM1 (" COM1_DEVICE "): is the radio on, and the cable in "
                                       "its programming socket?"},
                      BoardInfoFailure{"VersionUnreadable", {"--fail-read", "0x0D00"}, "Failed to read firmware version"},
                      BoardInfoFailure{"EsnUnreadable", {"--fail-read", "0x0500"}, "Failed to read ESN"}),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32 // Windows has no pseudo-terminals
TEST_F(AppTest, BoardInformationOverARealSerialLineToTheEmulatorOnAPseudoTerminal)
{
    sim::PtyBoardHost host(sim::parseBoardOptions({"--esn", "305419896"}));
    std::string error;
    ASSERT_TRUE(host.start(&error)) << error;
    writeFile("AppConfig.ini", "[SerialPort]\nPortNumber=COM2\n[SerialDevices]\nCOM2=" + host.devicePath() + "\n");
    start();
    Shown shown;
    ModalAnswerer answerer;
    answerer.then(readAndClose(shown, nullptr));

    frame().CommandAction(ID_BOARD_INFO)->trigger();
    EXPECT_TRUE(answerer.boxes.empty());
    EXPECT_EQ(shown.version, QStringLiteral("R07.12.00"));
    EXPECT_EQ(shown.esn, QStringLiteral("305419896"));
}
#endif

} // namespace
} // namespace fieldkit::app
