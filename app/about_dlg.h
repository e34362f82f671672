#pragma once

#include "app/dialog.h"

#include <string>

namespace fieldkit::flash {
class UpgradeFrame;
}

namespace fieldkit::app {

// The about text: ten lines joined by CR LF, the fifth naming the firmware version the
// settings file asks for.
std::string aboutText(const char* firmwareVersion);

// "About FieldKit": the program icon and the about text.
class CAboutDlg final : public CDialog {
    Q_OBJECT
public:
    // Takes the firmware version text from the main frame.
    CAboutDlg(flash::UpgradeFrame& frame, QWidget* parent);

    std::string m_strAbout;
};

} // namespace fieldkit::app
