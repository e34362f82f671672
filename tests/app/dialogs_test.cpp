#include "app/about_dlg.h"
#include "app/board_info_dlg.h"
#include "app/com_port_dlg.h"
#include "app/resource.h"
#include "tests/app/app_fixture.h"

#include <QLabel>
#include <QPlainTextEdit>

namespace fieldkit::app {
namespace {

TEST(AboutText, TenLinesJoinedByCrLfWithTheFirmwareVersionInTheFifth)
{
    const QStringList lines = QString::fromStdString(aboutText("UNDEFINED")).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 10);
    EXPECT_TRUE(lines[0].endsWith(QStringLiteral(" Lodestar FieldKit")));
    EXPECT_EQ(lines[1], QStringLiteral("Version " FIELDKIT_VERSION));
    EXPECT_TRUE(lines[2].isEmpty() && lines[5].isEmpty() && lines[8].isEmpty());
    EXPECT_TRUE(lines[3].endsWith(QStringLiteral(" Lodestar Board Firmware")));
    EXPECT_EQ(lines[4], QStringLiteral("Version UNDEFINED"));
    EXPECT_FALSE(lines[9].isEmpty());
}

TEST_F(AppTest, AboutDialogShowsTheSettingsFirmwareVersion)
{
    writeFile("AppConfig.ini", "[Firmware]\nVersion=R07.12.00\n");
    start();
    CAboutDlg about(frame(), &frame());
    EXPECT_TRUE(about.findChild<QPlainTextEdit*>()->toPlainText().contains(QStringLiteral("\nVersion R07.12.00\n")));
}

// Every text of a fixed layout fits its place, and every control lies inside its dialog.
void expectNothingClippedOrOutside(QWidget& dialog)
{
    const QRect inside = dialog.rect();
    for (QWidget* child : dialog.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        EXPECT_TRUE(inside.contains(child->geometry())) << dialog.windowTitle().toStdString();
        if (auto* label = qobject_cast<QLabel*>(child); label != nullptr && label->pixmap().isNull()) {
            EXPECT_LE(label->sizeHint().width(), label->width()) << label->text().toStdString();
        }
        if (auto* button = qobject_cast<QPushButton*>(child)) {
            EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text().remove(QLatin1Char('&'))),
                      button->width())
                << button->text().toStdString();
        }
    }
}

TEST_F(AppTest, DialogTextsFitTheirPlaces)
{
    skipWithoutTheSystemsFonts();
    start();
    CComPortDlg comPort(1, &frame());
    CBoardInfoDlg boardInfo(&frame());
    CAboutDlg about(frame(), &frame());
    expectNothingClippedOrOutside(comPort);
    expectNothingClippedOrOutside(boardInfo);
    expectNothingClippedOrOutside(about);
    expectNothingClippedOrOutside(view());
}

} // namespace
} // namespace fieldkit::app
