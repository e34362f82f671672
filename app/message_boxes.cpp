#include "app/message_boxes.h"

#include "app/resource.h"

#include <QMessageBox>

namespace fieldkit::app {
namespace {

int runBox(QWidget* owner, QMessageBox::Icon icon, const char* caption, const std::string& text,
           QMessageBox::StandardButtons buttons, QMessageBox::StandardButton defaultButton)
{
    QMessageBox box(icon, QString::fromUtf8(caption), QString::fromStdString(text), buttons, owner);
    box.setDefaultButton(defaultButton);
    box.setTextFormat(Qt::PlainText);
    return box.exec();
}

} // namespace

void errorBox(QWidget* owner, const std::string& text)
{
    runBox(owner, QMessageBox::Critical, IDS_APP_TITLE, text, QMessageBox::Ok, QMessageBox::Ok);
}

Answer questionBox(QWidget* owner, const std::string& text)
{
    const int result = runBox(owner, QMessageBox::Warning, IDS_WARNING_CAPTION, text,
                              QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void warningBox(QWidget* owner, const std::string& text)
{
    runBox(owner, QMessageBox::Warning, IDS_WARNING_CAPTION, text, QMessageBox::Ok, QMessageBox::Ok);
}

void plainBox(QWidget* owner, const std::string& caption, const std::string& text)
{
    runBox(owner, QMessageBox::NoIcon, caption.c_str(), text, QMessageBox::Ok, QMessageBox::Ok);
}

} // namespace fieldkit::app
