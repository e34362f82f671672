#include "app/bench_ports_dlg.h"

#include "core/com_port.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include <algorithm>

namespace fieldkit::app {

CBenchPortsDlg::CBenchPortsDlg(const std::vector<int>& ports, QWidget* parent)
    : CDialog("Bench", 157, 96, parent), m_ports(ports)
{
    auto* label = new QLabel(QStringLiteral("The COM ports with a board on the bench:"), this);
    label->setGeometry(units().rect(10, 8, 140, 8));
    for (int port = kLowestPort; port <= kHighestPort; ++port) {
        const std::string name = comPortName(port);
        auto* check = new QCheckBox(QString::fromStdString(name.substr(0, 3) + "&" + name.substr(3)), this);
        check->setGeometry(units().rect(20 + (port - kLowestPort) % 2 * 66, 24 + (port - kLowestPort) / 2 * 14, 50, 10));
        check->setChecked(std::find(ports.begin(), ports.end(), port) != ports.end());
        connect(check, &QCheckBox::toggled, this, &CBenchPortsDlg::OnCheckChanged);
        m_checks.push_back(check);
    }
    m_ok = addButton("&OK", {20, 70, 50, 15}, true);
    QPushButton* cancel = addButton("&Cancel", {86, 70, 50, 15}, false);
    connect(m_ok, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    OnCheckChanged();
    m_checks.front()->setFocus();
}

void CBenchPortsDlg::OnCheckChanged()
{
    m_ports.clear();
    for (std::size_t index = 0; index < m_checks.size(); ++index)
        if (m_checks[index]->isChecked())
            m_ports.push_back(kLowestPort + static_cast<int>(index));
    m_ok->setEnabled(!m_ports.empty());
}

} // namespace fieldkit::app
