#include "app/info_text.h"
#include "app/upgrade_view.h"
#include "tests/app/app_fixture.h"

#include <QPlainTextEdit>
#include <QPushButton>

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

TEST(InfoTextForDisplay, CrLfBecomesALineBreakAndBytesThatAreNotUtf8ReadAsLatin1)
{
    EXPECT_EQ(infoTextForDisplay("one\r\ntwo"), QStringLiteral("one\ntwo"));
    EXPECT_EQ(infoTextForDisplay("caf\xc3\xa9"), QString::fromUtf8("caf\xc3\xa9"));
    EXPECT_EQ(infoTextForDisplay("caf\xe9"), QString::fromUtf8("caf\xc3\xa9"));
}

TEST_F(AppTest, StartWithoutInfoFileShowsAnEmptyTextNoBoxAndAnEnabledUpgradeButton)
{
    ModalAnswerer answerer;
    start();
    QTest::qWait(20);
    EXPECT_TRUE(view().infoText()->toPlainText().isEmpty());
    EXPECT_TRUE(answerer.boxes.empty());
    EXPECT_TRUE(view().m_btnUpgrade->isEnabled());
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
