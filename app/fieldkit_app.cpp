#include "app/fieldkit_app.h"

#include "app/about_dlg.h"
#include "app/resource.h"
#include "app/upgrade_doc.h"
#include "app/upgrade_view.h"

namespace fieldkit::app {

CFieldKitApp::CFieldKitApp(FrameServices services) : m_services(std::move(services)) {}

CFieldKitApp::~CFieldKitApp() = default;

void CFieldKitApp::InitInstance()
{
    m_document = std::make_unique<CUpgradeDoc>();
    m_frame = std::make_unique<CMainFrame>(*m_document, m_services);
    m_frame->OnCreate();
    m_frame->SetActiveView(new CUpgradeView(*m_frame));
    QObject::connect(m_frame.get(), &CMainFrame::applicationCommand, m_frame.get(), [this](int id) {
        if (id == ID_APP_ABOUT)
            OnAppAbout();
        else if (id == ID_FILE_NEW)
            OnFileNew();
    });
    OnFileNew();
    m_frame->show();
}

void CFieldKitApp::OnAppAbout()
{
    CAboutDlg dialog(*m_frame, m_frame.get());
    dialog.DoModal();
}

void CFieldKitApp::OnFileNew()
{
    if (!m_document->OnNewDocument())
        return;
    GetView()->OnInitialUpdate();
}

CUpgradeView* CFieldKitApp::GetView() const
{
    return m_frame->GetActiveView();
}

} // namespace fieldkit::app
