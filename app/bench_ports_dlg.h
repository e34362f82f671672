#pragma once

#include "app/dialog.h"

#include <vector>

class QCheckBox;
class QPushButton;

namespace fieldkit::app {

// "Bench": which of COM1 to COM4 have a board on the bench. It stores nothing itself; after OK
// the caller reads m_ports. OK needs at least one port.
class CBenchPortsDlg final : public CDialog {
    Q_OBJECT
public:
    CBenchPortsDlg(const std::vector<int>& ports, QWidget* parent);

    std::vector<int> m_ports;
    std::vector<QCheckBox*> m_checks;

private:
    void OnCheckChanged();

    QPushButton* m_ok;
};

} // namespace fieldkit::app
