#include "app/upgrade_view.h"

#include "app/dialog.h"
#include "app/dialog_units.h"
#include "app/info_text.h"
#include "app/main_frame.h"
#include "app/resource.h"

#include <QGroupBox>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringDecoder>

#include <algorithm>

namespace fieldkit::app {
namespace {

// The form's size in dialog units.
constexpr int kFormWidth = 342;
constexpr int kFormHeight = 129;

} // namespace

QString infoTextForDisplay(const std::string& bytes)
{
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(QByteArrayView(bytes.data(), static_cast<qsizetype>(bytes.size())));
    if (utf8.hasError()) {
        // Windows-1252, the code page such files are written in: Latin-1 but for 0x80 to
        // 0x9F, its typographic quotes, dashes and euro sign. Written out here, as a Qt
        // without ICU (the static one of the Windows build) has no such decoder; the five
        // bytes the code page leaves free keep their own value.
        static constexpr char16_t kHighControls[32] = {
            0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
        text.clear();
        text.reserve(static_cast<qsizetype>(bytes.size()));
        for (const char byte : bytes) {
            const auto value = static_cast<unsigned char>(byte);
            text.append(value >= 0x80 && value <= 0x9F ? QChar(kHighControls[value - 0x80]) : QChar(value));
        }
    }
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return text;
}

CUpgradeView::CUpgradeView(CMainFrame& frame)
    : QWidget(&frame), m_frame(frame)
{
    setFont(dialogFont());
    const DialogUnits units(font());

    m_group = new QGroupBox(QStringLiteral("Information"), this);
    m_group->setGeometry(units.rect(5, 4, 332, 97));

    // Styles that draw the group's title above its frame, rather than on it, push the frame
    // down; the text starts below the frame whatever the style. It reaches down to the
    // frame's inner edge: Info.txt is written for ten lines, and the box has no scroll bar
    // to tell of a line that does not fit, nor of the descenders of one cut off.
    const QRect groupInside = m_group->contentsRect().translated(m_group->pos());
    QRect infoPlace = units.rect(11, 15, 320, 80);
    infoPlace.setTop(std::max(infoPlace.top(), groupInside.top()));
    infoPlace.setBottom(groupInside.bottom());
    m_info = addFormText(this, infoPlace);
    m_info->setObjectName(QStringLiteral("IDC_INFO_TEXT"));
    m_info->setFocusPolicy(Qt::ClickFocus);

    m_btnUpgrade = new QPushButton(QStringLiteral("&Upgrade"), this);
    m_btnUpgrade->setObjectName(QStringLiteral("IDC_UPGRADE_BUTTON"));
    m_btnUpgrade->setGeometry(units.rect(5, 106, 57, 19));
    connect(m_btnUpgrade, &QPushButton::clicked, this, &CUpgradeView::OnUpgradeButton);

    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("IDC_PROGRESS"));
    m_progress->setGeometry(units.rect(68, 106, 269, 19));
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    m_progress->setTextVisible(false);

    setMinimumSize(units.size(kFormWidth, kFormHeight));
}

QSize CUpgradeView::sizeHint() const
{
    return minimumSize();
}

void CUpgradeView::OnInitialUpdate()
{
    m_strInfo = infoTextForDisplay(loadInfoText(kInfoFileName));
    m_info->setPlainText(m_strInfo);
    m_frame.RecalcLayout();
    m_frame.ResizeParentToFit();
}

void CUpgradeView::OnUpgradeButton()
{
    m_frame.StartUpgrade();
}

} // namespace fieldkit::app
