#include "app/dialog.h"

#include "app/resource.h"

#include <QPlainTextEdit>
#include <QTextDocument>
#include <QPushButton>

namespace fieldkit::app {

QPlainTextEdit* addFormText(QWidget* parent, const QRect& place)
{
    auto* text = new QPlainTextEdit(parent);
    text->setGeometry(place);
    text->setReadOnly(true);
    text->setFrameShape(QFrame::NoFrame);
    text->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    text->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    QPalette palette = text->palette();
    palette.setColor(QPalette::Base, Qt::transparent);
    text->setPalette(palette);
    // Like a plain edit control, the text starts at the box's edge: every line of the
    // fixed box is used.
    text->document()->setDocumentMargin(0);
    return text;
}

CDialog::CDialog(const char* caption, int widthUnits, int heightUnits, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint),
      m_units(dialogFont())
{
    setFont(dialogFont());
    setWindowTitle(QString::fromLatin1(caption));
    setFixedSize(m_units.size(widthUnits, heightUnits));
}

int CDialog::DoModal()
{
    return exec() == QDialog::Accepted ? IDOK : IDCANCEL;
}

QPushButton* CDialog::addButton(const char* text, const QRect& unitsRect, bool isDefault)
{
    auto* button = new QPushButton(QString::fromLatin1(text), this);
    button->setGeometry(m_units.rect(unitsRect.x(), unitsRect.y(), unitsRect.width(), unitsRect.height()));
    button->setAutoDefault(false);
    button->setDefault(isDefault);
    return button;
}

} // namespace fieldkit::app
