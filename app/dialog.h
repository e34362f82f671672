#pragma once

#include "app/dialog_units.h"

#include <QDialog>

class QPlainTextEdit;
class QPushButton;

namespace fieldkit::app {

// Multi-line read-only text without border or scroll bars, drawn straight on the form around
// it, wrapping long lines; at `place` in pixels.
QPlainTextEdit* addFormText(QWidget* parent, const QRect& place);

// A fixed-size modal dialog laid out in dialog units of the 8-point dialog font, with a
// caption and a close box.
class CDialog : public QDialog {
    Q_OBJECT
public:
    // Runs the dialog modally: IDOK or IDCANCEL.
    int DoModal();

protected:
    CDialog(const char* caption, int widthUnits, int heightUnits, QWidget* parent);

    const DialogUnits& units() const { return m_units; }
    // A push button at a place given in dialog units; the default one answers Return.
    QPushButton* addButton(const char* text, const QRect& unitsRect, bool isDefault);

private:
    DialogUnits m_units;
};

} // namespace fieldkit::app
