#pragma once

#include "app/main_frame.h"

#include <memory>

namespace fieldkit::app {

class CUpgradeDoc;
class CUpgradeView;

// The application object: creates the one document, the main frame and the form, and
// handles the commands that belong to the application (the about box, a new document).
class CFieldKitApp {
public:
    explicit CFieldKitApp(FrameServices services = {});
    ~CFieldKitApp();
    CFieldKitApp(const CFieldKitApp&) = delete;
    CFieldKitApp& operator=(const CFieldKitApp&) = delete;

    // Start-up: builds the window (reading the settings), loads the information text and
    // shows the window.
    void InitInstance();

    void OnAppAbout();
    // A fresh document: the caption's title returns to " FieldKit" and the information text
    // is read again. Unavailable while an upgrade runs, whose progress the title shows.
    void OnFileNew();

    CMainFrame* GetMainWnd() const { return m_frame.get(); }
    CUpgradeDoc* GetDocument() const { return m_document.get(); }
    CUpgradeView* GetView() const;

private:
    FrameServices m_services;
    std::unique_ptr<CUpgradeDoc> m_document;
    std::unique_ptr<CMainFrame> m_frame;
};

} // namespace fieldkit::app
