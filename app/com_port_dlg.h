#pragma once

#include "app/dialog.h"

class QComboBox;

namespace fieldkit::app {

// "COM Port Setting": a drop-down list of COM1 to COM4. It stores nothing itself; after OK
// the caller reads m_nPort.
class CComPortDlg final : public CDialog {
    Q_OBJECT
public:
    CComPortDlg(int port, QWidget* parent);

    int m_nPort;
    QComboBox* m_comboPort;

private slots:
    void OnSelchangeComPortCombo(int index);
};

} // namespace fieldkit::app
