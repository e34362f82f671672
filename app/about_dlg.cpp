#include "app/about_dlg.h"

#include "app/artwork.h"
#include "flash/upgrade_worker.h"
#include "settings/app_settings.h"

#include <QLabel>
#include <QPlainTextEdit>

#include <iterator>
#include <QPushButton>

namespace fieldkit::app {
namespace {

constexpr const char* kMaker = "Open Field Radio";
constexpr const char* kLineEnd = "\r\n";
// The icon is shown at the size of a large desktop icon.
constexpr int kIconPixels = 32;

} // namespace

std::string aboutText(const char* firmwareVersion)
{
    const std::string lines[] = {
        std::string(kMaker) + " Lodestar FieldKit",
        std::string("Version ") + FIELDKIT_VERSION,
        "",
        std::string(kMaker) + " Lodestar Board Firmware",
        std::string("Version ") + firmwareVersion,
        "",
        std::string("Copyright (C) 2026 ") + kMaker,
        "All rights reserved.",
        "",
        "Warning: this program is protected by copyright law and international treaties. Copying it or "
        "passing it on, in whole or in part, without authorisation will be prosecuted to the full extent "
        "of the law.",
    };
    std::string text;
    for (std::size_t i = 0; i < std::size(lines); ++i)
        text += (i == 0 ? "" : kLineEnd) + lines[i];
    return text;
}

CAboutDlg::CAboutDlg(flash::UpgradeFrame& frame, QWidget* parent)
    : CDialog("About FieldKit", 212, 165, parent)
{
    char firmwareVersion[settings::kVersionBuffer] = {};
    frame.GetFirmwareVersion(firmwareVersion, sizeof firmwareVersion);
    m_strAbout = aboutText(firmwareVersion);

    auto* icon = new QLabel(this);
    icon->setPixmap(programIcon().pixmap(kIconPixels, kIconPixels));
    icon->setGeometry(units().rect(8, 7, 21, 20));
    icon->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QPushButton* ok = addButton("&OK", {81, 143, 50, 14}, true);
    connect(ok, &QPushButton::clicked, this, &QDialog::accept);

    QPlainTextEdit* text = addFormText(this, units().rect(33, 7, 175, 130));
    text->setObjectName(QStringLiteral("IDC_ABOUT_TEXT"));
    text->setPlainText(QString::fromStdString(m_strAbout).replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    ok->setFocus();
}

} // namespace fieldkit::app
