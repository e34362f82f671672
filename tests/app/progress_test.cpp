#include "core/progress_text.h"
#include "app/resource.h"
#include "tests/app/app_fixture.h"

#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>

namespace fieldkit::app {
namespace {

const QString kIdleCaption = QStringLiteral(" FieldKit - QM7731.KX+ & QM9904.KX+ Lodestar Board Upgrade Software");

struct ProgressCase {
    int position;
    int upperBound;
    std::optional<std::string> title;
};

class ProgressTitle : public ::testing::TestWithParam<ProgressCase> {};

TEST_P(ProgressTitle, ShowsTruncatedTenthsOfAPerCent)
{
    EXPECT_EQ(progressTitle(GetParam().position, GetParam().upperBound), GetParam().title);
}

INSTANTIATE_TEST_SUITE_P(Cases, ProgressTitle,
                         ::testing::Values(ProgressCase{1, 3, " 33.3% Done"}, ProgressCase{2, 3, " 66.6% Done"},
                                           ProgressCase{3, 3, " 100.0% Done"}, ProgressCase{1, 1536, " 0.0% Done"},
                                           ProgressCase{2, 1536, " 0.1% Done"}, ProgressCase{1536, 1536, " 100.0% Done"},
                                           ProgressCase{0, 0, std::nullopt}, ProgressCase{1, 0, std::nullopt}),
                         [](const auto& info) {
                             return "Page" + std::to_string(info.param.position) + "Of" +
                                    std::to_string(info.param.upperBound);
                         });

TEST_F(AppTest, CaptionIsDocumentTitleThenFrameTitleAndTheStatusPaneIsReady)
{
    start();
    EXPECT_EQ(caption(), kIdleCaption);
    EXPECT_EQ(frame().statusBar()->currentMessage(), QStringLiteral("Ready"));
}

TEST_F(AppTest, PageDoneNoticesShowThePercentageInTheCaption)
{
    start();
    frame().OnUpgradeMessage(session::ProgressBegun{3});
    EXPECT_EQ(view().m_progress->maximum(), 3);
    frame().OnUpgradeMessage(session::PageWritten{});
    EXPECT_EQ(caption(), QStringLiteral(" 33.3% Done - QM7731.KX+ & QM9904.KX+ Lodestar Board Upgrade Software"));
    frame().OnUpgradeMessage(session::PageWritten{});
    frame().OnUpgradeMessage(session::PageWritten{});
    EXPECT_EQ(caption(), QStringLiteral(" 100.0% Done - QM7731.KX+ & QM9904.KX+ Lodestar Board Upgrade Software"));
    EXPECT_EQ(view().m_progress->value(), 3);
}

TEST_F(AppTest, PageDoneWithoutPagesToCountLeavesTheCaptionAlone)
{
    start();
    frame().OnUpgradeMessage(session::ProgressBegun{0});
    frame().OnUpgradeMessage(session::PageWritten{});
    EXPECT_EQ(caption(), kIdleCaption);
}

TEST_F(AppTest, StatusTextNoticeGoesToTheMessagePaneAndTheBoardsIdentityIsNotShown)
{
    start();
    frame().OnUpgradeMessage(session::StepEntered{UpgradeStage::Erasing, "Erasing flash blocks"});
    EXPECT_EQ(frame().statusBar()->currentMessage(), QStringLiteral("Erasing flash blocks"));
    frame().OnUpgradeMessage(session::BoardIdentified{"305419896", "R07.10.00"});
    EXPECT_EQ(frame().statusBar()->currentMessage(), QStringLiteral("Erasing flash blocks"));
    EXPECT_EQ(caption(), kIdleCaption);
}

TEST_F(AppTest, FinishedWithFailureResetsTheDisplayWithoutABox)
{
    ModalAnswerer answerer;
    start();
    view().m_btnUpgrade->setEnabled(false);
    frame().OnUpgradeMessage(session::ProgressBegun{3});
    frame().OnUpgradeMessage(session::PageWritten{});
    frame().OnUpgradeMessage(session::RunFinished{false});
    QTest::qWait(20);
    EXPECT_TRUE(answerer.boxes.empty());
    EXPECT_TRUE(view().m_btnUpgrade->isEnabled());
    EXPECT_EQ(view().m_progress->value(), 0);
    EXPECT_EQ(caption(), kIdleCaption);
}

TEST_F(AppTest, FinishedWithSuccessShowsTheDoneBoxAndRestoresTheWindow)
{
    ModalAnswerer answerer;
    answerer.thenClick(QMessageBox::Ok);
    start();
    frame().showMinimized();
    frame().OnUpgradeMessage(session::ProgressBegun{3});
    frame().OnUpgradeMessage(session::PageWritten{});
    frame().OnUpgradeMessage(session::RunFinished{true});
    ASSERT_EQ(answerer.boxes.size(), 1U);
    EXPECT_EQ(answerer.boxes[0].caption, QStringLiteral("Done"));
    EXPECT_EQ(answerer.boxes[0].text, QStringLiteral("Flashing completed successfully"));
    EXPECT_EQ(answerer.boxes[0].icon, QMessageBox::NoIcon);
    EXPECT_EQ(answerer.boxes[0].buttons, QMessageBox::Ok);
    EXPECT_FALSE(frame().isMinimized());
    EXPECT_EQ(view().m_progress->value(), 0);
    EXPECT_EQ(caption(), kIdleCaption);
}

} // namespace
} // namespace fieldkit::app
