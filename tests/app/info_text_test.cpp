#include "app/info_text.h"
#include "app/upgrade_view.h"
#include "tests/app/app_fixture.h"

#include <QFontMetrics>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTextBlock>
#include <QTextCursor>

#include <filesystem>

namespace fieldkit::app {
namespace {

struct InfoFileCase {
    const char* name;
    std::string bytes;
    std::string loaded;
};

class InfoFileLoading : public AppTest, public ::testing::WithParamInterface<InfoFileCase> {};

TEST_P(InfoFileLoading, KeepsLineEndsAndDropsTheRestOfAPieceAfterANul)
{
    writeFile("Info.txt", GetParam().bytes);
    EXPECT_EQ(loadInfoText("Info.txt"), GetParam().loaded);
}

const std::string kLongLine(250, 'x');
const std::string kLongLineWithNul = std::string(10, 'a') + '\0' + std::string(88, 'b') + std::string(20, 'c') + "\r\n";

INSTANTIATE_TEST_SUITE_P(
    Cases, InfoFileLoading,
    ::testing::Values(InfoFileCase{"Empty", "", ""},
                      InfoFileCase{"CrLfLineEndsArriveUnchanged", "one\r\ntwo\r\n", "one\r\ntwo\r\n"},
                      InfoFileCase{"LineLongerThanAPieceIsAppendedUnbroken", kLongLine + "\r\nend", kLongLine + "\r\nend"},
                      InfoFileCase{"NulEndsItsLineWhenTheLineIsOnePiece", std::string("ab\0cd\r\nnext\n", 12), "ab" "next\n"},
                      // The NUL cuts the first 99-byte piece at 10 bytes; the line's third
                      // piece, 20 bytes on, is read as usual.
                      InfoFileCase{"NulCutsOnlyItsOwnPieceOfALongLine", kLongLineWithNul,
                                   std::string(10, 'a') + std::string(20, 'c') + "\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, MissingInfoFileGivesAnEmptyText)
{
    EXPECT_EQ(loadInfoText("Info.txt"), "");
}

struct DisplayCase {
    const char* name;
    std::string bytes;
    const char* shown; // as UTF-8
};

class InfoTextForDisplay : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(InfoTextForDisplay, IsUtf8OrElseWindows1252WithCrLfAsALineBreak)
{
    EXPECT_EQ(infoTextForDisplay(GetParam().bytes), QString::fromUtf8(GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, InfoTextForDisplay,
    ::testing::Values(
        DisplayCase{"CrLfIsALineBreak", "one\r\ntwo", "one\ntwo"},
        DisplayCase{"Utf8", "caf\xc3\xa9 \xe2\x80\x9cok\xe2\x80\x9d", "caf\xc3\xa9 \xe2\x80\x9cok\xe2\x80\x9d"},
        DisplayCase{"Latin1Letter", "caf\xe9", "caf\xc3\xa9"},
        DisplayCase{"QuotesAndApostrophe", "\x93Upgrade\x94, \x91it\x92s\x92", "\xe2\x80\x9cUpgrade\xe2\x80\x9d, \xe2\x80\x98it\xe2\x80\x99s\xe2\x80\x99"},
        DisplayCase{"DashesEllipsisBullet", "a\x96" "b\x97" "c\x85\x95", "a\xe2\x80\x93" "b\xe2\x80\x94" "c\xe2\x80\xa6\xe2\x80\xa2"},
        DisplayCase{"EuroTradeMarkAndLetters", "\x80 5\x99 \x8a\x9a\x8e\x9e\x9f", "\xe2\x82\xac 5\xe2\x84\xa2 \xc5\xa0\xc5\xa1\xc5\xbd\xc5\xbe\xc5\xb8"},
        // Bytes the code page leaves unassigned read as Windows reads them.
        DisplayCase{"UnassignedBytes", "\x81\x8d\x8f\x90\x9d", "\xc2\x81\xc2\x8d\xc2\x8f\xc2\x90\xc2\x9d"},
        // One byte that cannot be UTF-8 makes the whole file Windows-1252.
        DisplayCase{"OneBadByteDecidesForTheWholeFile", "\xc3\xa9\x96\r\n", "\xc3\x83\xc2\xa9\xe2\x80\x93\n"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(AppTest, StartWithoutInfoFileShowsAnEmptyTextNoBoxAndAnEnabledUpgradeButton)
{
    ModalAnswerer answerer;
    start();
    QTest::qWait(20);
    EXPECT_TRUE(view().infoText()->toPlainText().isEmpty());
    EXPECT_TRUE(answerer.boxes.empty());
    EXPECT_TRUE(view().m_btnUpgrade->isEnabled());
}

// Info.txt is written for the ten lines the box shows; a line cut or hidden has no scroll
// bar to tell of it.
TEST_F(AppTest, InformationBoxShowsTenWholeLinesOfItsFontAndAllOfTheSampleText)
{
    skipWithoutTheSystemsFonts();
    std::filesystem::copy_file(std::filesystem::path(FIELDKIT_EXAMPLES_DIR) / "Info.txt", "Info.txt");
    start();
    QPlainTextEdit* box = view().infoText();
    const int lineSpacing = QFontMetrics(box->font()).lineSpacing();
    EXPECT_GE(box->viewport()->height() / lineSpacing, 10) << "viewport " << box->viewport()->height() << " px";

    // Every line of the sample lies wholly inside, from the first line's top to the last
    // one's descenders, wrapped lines included; the empty block after the last line end is
    // no line of the file.
    int lines = 0;
    const QTextBlock afterLastLineEnd = box->document()->lastBlock();
    for (QTextBlock block = box->document()->begin(); block.isValid(); block = block.next()) {
        if (block == afterLastLineEnd && block.text().isEmpty())
            break;
        QTextCursor cursor(block);
        EXPECT_GE(box->cursorRect(cursor).top(), 0) << "scrolled away: " << block.text().toStdString();
        cursor.movePosition(QTextCursor::EndOfBlock);
        EXPECT_LE(box->cursorRect(cursor).bottom(), box->viewport()->height())
            << "cut off: " << block.text().toStdString();
        lines += block.lineCount();
    }
    EXPECT_GE(lines, 10);
}

TEST_F(AppTest, InfoFileIsShownLineByLineAndReadAfreshForANewDocument)
{
    writeFile("Info.txt", "first line\r\nsecond line\r\n");
    start();
    EXPECT_EQ(view().infoText()->toPlainText(), QStringLiteral("first line\nsecond line\n"));

    writeFile("Info.txt", "changed\r\n");
    frame().GetActiveDocument()->SetTitle(QStringLiteral("something else"));
    activate(frame());
    QTest::keyClick(&frame(), Qt::Key_N, Qt::ControlModifier);
    EXPECT_EQ(view().infoText()->toPlainText(), QStringLiteral("changed\n"));
    EXPECT_EQ(frame().GetActiveDocument()->GetTitle(), QStringLiteral(" FieldKit"));
}

} // namespace
} // namespace fieldkit::app
