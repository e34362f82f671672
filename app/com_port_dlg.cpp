#include "app/com_port_dlg.h"

#include "core/com_port.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

namespace fieldkit::app {
CComPortDlg::CComPortDlg(int port, QWidget* parent)
    : CDialog("COM Port Setting", 157, 66, parent), m_nPort(port)
{
    auto* label = new QLabel(QStringLiteral("COM Port"), this);
    label->setGeometry(units().rect(38, 11, 32, 8));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    m_comboPort = new QComboBox(this);
    m_comboPort->setObjectName(QStringLiteral("IDC_COM_PORT_COMBO"));
    for (int number = kLowestPort; number <= kHighestPort; ++number)
        m_comboPort->addItem(QString::fromStdString(comPortName(number)));
    const QRect comboPlace = units().rect(86, 9, 50, 0);
    m_comboPort->setGeometry(comboPlace.x(), comboPlace.y(), comboPlace.width(), m_comboPort->sizeHint().height());
    m_comboPort->setCurrentIndex(m_nPort - 1);
    connect(m_comboPort, &QComboBox::currentIndexChanged, this, &CComPortDlg::OnSelchangeComPortCombo);

    QPushButton* ok = addButton("&OK", {20, 39, 50, 15}, true);
    QPushButton* cancel = addButton("&Cancel", {86, 39, 50, 15}, false);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    m_comboPort->setFocus();
}

void CComPortDlg::OnSelchangeComPortCombo(int index)
{
    m_nPort = index + 1;
}

} // namespace fieldkit::app
