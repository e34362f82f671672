#include "app/board_info_dlg.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace fieldkit::app {
namespace {

// The longest text either field takes.
constexpr int kFieldLength = 20;

QLineEdit* addField(QWidget* dialog, const char* caption, const QRect& captionPlace, const char* fieldName,
                    const QRect& fieldPlace)
{
    auto* label = new QLabel(QString::fromLatin1(caption), dialog);
    label->setGeometry(captionPlace);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    auto* field = new QLineEdit(dialog);
    field->setObjectName(QString::fromLatin1(fieldName));
    field->setGeometry(fieldPlace);
    field->setReadOnly(true);
    field->setMaxLength(kFieldLength);
    return field;
}

} // namespace

CBoardInfoDlg::CBoardInfoDlg(QWidget* parent)
    : CDialog("Option Board Information", 228, 122, parent)
{
    QPushButton* ok = addButton("&OK", {89, 91, 50, 14}, true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    m_editFirmwareVersion = addField(this, "Lodestar Board Firmware Version", units().rect(16, 55, 104, 14),
                                     "IDC_BOARD_FW_VERSION", units().rect(129, 51, 82, 16));
    m_editEsn = addField(this, "Lodestar Board ESN", units().rect(15, 18, 92, 12), "IDC_BOARD_ESN",
                         units().rect(129, 14, 82, 16));
    ok->setFocus();
}

void CBoardInfoDlg::showEvent(QShowEvent* event)
{
    m_editFirmwareVersion->setText(m_strFirmwareVersion);
    m_editEsn->setText(m_strEsn);
    CDialog::showEvent(event);
}

} // namespace fieldkit::app
