#include "app/upgrade_doc.h"

#include "app/resource.h"

namespace fieldkit::app {

bool CUpgradeDoc::OnNewDocument()
{
    SetTitle(QString::fromLatin1(IDS_DOCUMENT_TITLE));
    return true;
}

void CUpgradeDoc::SetTitle(const QString& title)
{
    m_strTitle = title;
    emit titleChanged(m_strTitle);
}

} // namespace fieldkit::app
