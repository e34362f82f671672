#include "app/main_frame.h"

#include "app/artwork.h"
#include "app/history_window.h"
#include "app/message_boxes.h"
#include "app/resource.h"
#include "app/thread_handoff.h"
#include "app/upgrade_doc.h"
#include "app/upgrade_view.h"
#include "core/stop.h"
#include "link/serial_board_link.h"
#include "link/serial_port.h"
#include "settings/port_devices.h"

#include <QAction>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QThread>
#include <QToolBar>
#include <QWindow>

#include <algorithm>

namespace fieldkit::app {

BoardLinkFactory serialBoardLinks(std::filesystem::path settingsFile)
{
    return [settingsFile = std::move(settingsFile)]() -> std::unique_ptr<link::BoardLink> {
        return std::make_unique<link::SerialBoardLink>(
            link::serialPortChannels([settingsFile](int port) { return settings::serialDeviceFor(port, settingsFile).device; }));
    };
}

CMainFrame::CMainFrame(CUpgradeDoc& document, FrameServices services)
    : m_document(document), m_services(std::move(services))
{
    if (!m_services.makeLink)
        m_services.makeLink = serialBoardLinks(m_services.settingsFile);
    m_workerJobs = new WindowThreadJobs(this);
    setWindowIcon(programIcon());
    const auto showCaption = [this](const QString& title) {
        setWindowTitle(title + QLatin1String(IDS_CAPTION_SEPARATOR) + QLatin1String(IDS_FRAME_TITLE));
    };
    connect(&m_document, &CUpgradeDoc::titleChanged, this, showCaption);
    showCaption(m_document.GetTitle());
}

CMainFrame::~CMainFrame()
{
    StopWorker();
}

void CMainFrame::OnCreate()
{
    CreateCommands();
    CreateMenu();
    CreateToolBar();
    CreateStatusBar();
    ReadFirmwareVersionSetting();
    ReadPortSetting();
}

void CMainFrame::CreateMenu()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    file->addAction(CommandAction(ID_UPGRADE));
    file->addAction(CommandAction(ID_FILE_CLOSE));
    QMenu* configuration = menuBar()->addMenu(QStringLiteral("Configuration"));
    configuration->addAction(CommandAction(ID_COM_PORT));
    QMenu* view = menuBar()->addMenu(QStringLiteral("View"));
    view->addAction(CommandAction(ID_VIEW_TOOLBAR));
    view->addAction(CommandAction(ID_VIEW_STATUS_BAR));
    view->addAction(CommandAction(ID_BOARD_INFO));
    view->addAction(CommandAction(ID_VIEW_HISTORY));
    QMenu* help = menuBar()->addMenu(QStringLiteral("Help"));
    help->addAction(CommandAction(ID_HOW_TO));
    help->addSeparator();
    help->addAction(CommandAction(ID_APP_ABOUT));
}

void CMainFrame::CreateToolBar()
{
    m_wndToolBar = new QToolBar(QStringLiteral("Tool bar"), this);
    m_wndToolBar->setObjectName(QStringLiteral("AFX_IDW_TOOLBAR"));
    m_wndToolBar->setIconSize(QSize(kToolImageSize, kToolImageSize));
    m_wndToolBar->setAllowedAreas(Qt::AllToolBarAreas);
    m_wndToolBar->setMovable(true);
    const std::pair<int, ToolImage> buttons[] = {{ID_UPGRADE, ToolImage::Upgrade},
                                                 {ID_COM_PORT, ToolImage::ComPort},
                                                 {ID_BOARD_INFO, ToolImage::BoardInfo},
                                                 {ID_HOW_TO, ToolImage::HowTo}};
    for (const auto& [id, image] : buttons) {
        QAction* action = CommandAction(id);
        action->setIcon(toolIcon(image));
        m_wndToolBar->addAction(action);
    }
    addToolBar(Qt::TopToolBarArea, m_wndToolBar);

    QAction* toggle = CommandAction(ID_VIEW_TOOLBAR);
    toggle->setChecked(true);
    connect(toggle, &QAction::toggled, m_wndToolBar, &QToolBar::setVisible);
    connect(m_wndToolBar, &QToolBar::visibilityChanged, toggle, &QAction::setChecked);
}

void CMainFrame::CreateStatusBar()
{
    m_wndStatusBar = new QStatusBar(this);
    m_wndStatusBar->setObjectName(QStringLiteral("AFX_IDW_STATUS_BAR"));
    setStatusBar(m_wndStatusBar);
    ShowIdleMessage();

    QAction* toggle = CommandAction(ID_VIEW_STATUS_BAR);
    toggle->setChecked(true);
    connect(toggle, &QAction::toggled, m_wndStatusBar, &QStatusBar::setVisible);
}

void CMainFrame::SetActiveView(CUpgradeView* view)
{
    m_view = view;
    setCentralWidget(view);
    // The frame's keys come before the text box's own: Ctrl+C opens the COM port dialog
    // instead of copying text.
    view->infoText()->installEventFilter(this);
}

int CMainFrame::GetPort()
{
    return m_nPort;
}

int CMainFrame::GetFirmwareVersion(char* buffer, int size)
{
    return flash::copyFirmwareVersion(m_szFirmwareVersion, buffer, size);
}

void CMainFrame::ReadFirmwareVersionSetting()
{
    const std::string version = settings::readFirmwareVersionSetting(m_services.settingsFile);
    const std::size_t length = std::min(version.size(), sizeof m_szFirmwareVersion - 1);
    std::memcpy(m_szFirmwareVersion, version.data(), length);
    m_szFirmwareVersion[length] = '\0';
}

void CMainFrame::ReadPortSetting()
{
    const settings::PortSetting setting = settings::readPortSetting(m_services.settingsFile);
    m_nPort = setting.port;
    if (setting.invalid)
        WarnOnScreen(settings::kInvalidPortWarning);
}

// The settings are read while the window is built, before it has its size or the window
// manager has placed it: a box shown then is centred on nothing (the screen's corner on
// X11). Such a warning waits until the window is exposed, and then comes from the event
// loop, centred on the window as the user sees it.
void CMainFrame::WarnOnScreen(const std::string& text)
{
    if (windowHandle() != nullptr && windowHandle()->isExposed()) {
        warningBox(this, text);
        return;
    }
    m_warningsForTheScreen.push_back(text);
}

void CMainFrame::ShowWarningsHeldForTheScreen()
{
    const std::vector<std::string> warnings = std::move(m_warningsForTheScreen);
    m_warningsForTheScreen.clear();
    for (const std::string& text : warnings)
        warningBox(this, text);
}

void CMainFrame::closeEvent(QCloseEvent* event)
{
    OnClose(event);
}

void CMainFrame::OnClose(QCloseEvent* event)
{
    if (m_bBusy && !m_bQuitting) {
        if (questionBox(this, IDS_QUIT_WHILE_FLASHING) != Answer::Yes) {
            event->ignore();
            return;
        }
        // The program ends now. The upgrade thread is told to let go of the board: its
        // remaining board calls fail at once, so it takes its ordinary way out, which
        // closes the serial port; the frame waits for it when it is destroyed.
        m_bQuitting = true;
        m_stop->request();
    }
    event->accept();
}

bool CMainFrame::event(QEvent* event)
{
    // One message pane, shared by the command prompts and the upgrade's status texts: when
    // a prompt goes away, the idle text takes its place.
    if (event->type() == QEvent::StatusTip && m_wndStatusBar != nullptr) {
        const QString prompt = static_cast<QStatusTipEvent*>(event)->tip();
        if (prompt.isEmpty())
            ShowIdleMessage();
        else
            m_wndStatusBar->showMessage(prompt);
        return true;
    }
    // The native window exists from the first showing on: its exposure releases the
    // warnings held for the screen.
    if (event->type() == QEvent::Show && !m_warningsForTheScreen.empty() && windowHandle() != nullptr)
        windowHandle()->installEventFilter(this);
    return QMainWindow::event(event);
}

bool CMainFrame::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == windowHandle() && event->type() == QEvent::Expose && windowHandle()->isExposed()) {
        windowHandle()->removeEventFilter(this);
        // Not inside the exposure itself: the box runs an event loop of its own.
        QMetaObject::invokeMethod(this, &CMainFrame::ShowWarningsHeldForTheScreen, Qt::QueuedConnection);
    }
    if (event->type() == QEvent::ShortcutOverride) {
        const QKeySequence pressed(static_cast<QKeyEvent*>(event)->keyCombination());
        for (const auto& [id, action] : m_commands)
            if (!action->shortcut().isEmpty() && action->shortcut() == pressed) {
                // Not taken by the control: the key goes to the frame's command.
                event->ignore();
                return true;
            }
    }
    return QMainWindow::eventFilter(watched, event);
}

void CMainFrame::ShowIdleMessage()
{
    m_wndStatusBar->showMessage(QString::fromLatin1(IDS_IDLE_MESSAGE));
}

void CMainFrame::RecalcLayout()
{
    if (QLayout* frameLayout = layout())
        frameLayout->activate();
}

void CMainFrame::ResizeParentToFit()
{
    // The form's own size and the bars around it; before the first showing the window has
    // no size of its own yet.
    const QSize fit = sizeHint();
    resize(isVisible() ? size().boundedTo(fit) : fit);
}

} // namespace fieldkit::app
