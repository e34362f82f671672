#pragma once

#include "app/dialog.h"

#include <QString>

class QLineEdit;

namespace fieldkit::app {

// "Option Board Information": the ESN and the firmware version read from the board, shown
// read-only. The caller fills the two texts before running it.
class CBoardInfoDlg final : public CDialog {
    Q_OBJECT
public:
    explicit CBoardInfoDlg(QWidget* parent);

    QString m_strFirmwareVersion;
    QString m_strEsn;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QLineEdit* m_editFirmwareVersion;
    QLineEdit* m_editEsn;
};

} // namespace fieldkit::app
