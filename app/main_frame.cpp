#include "app/main_frame.h"

#include "app/artwork.h"
#include "app/board_info_dlg.h"
#include "app/com_port_dlg.h"
#include "app/history_window.h"
#include "app/message_boxes.h"
#include "core/progress_text.h"
#include "app/resource.h"
#include "app/thread_handoff.h"
#include "app/tsan_marks.h"
#include "app/upgrade_doc.h"
#include "app/upgrade_history.h"
#include "core/stop.h"
#include "history/history_file.h"
#include "link/stoppable_board_link.h"
#include "app/upgrade_view.h"
#include "core/upgrade_notices.h"
#include "link/board_connection.h"
#include "link/serial_board_link.h"
#include "link/serial_port.h"
#include "settings/port_devices.h"

#include <QAction>
#include <QApplication>
#include <QCloseEvent>
#include <QDeadlineTimer>
#include <QKeyEvent>
#include <QLayout>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QStatusTipEvent>
#include <QThread>
#include <QToolBar>
#include <QWindow>

#include <algorithm>
#include <array>
#include <chrono>
#include <cstring>
#include <optional>

namespace fieldkit::app {
namespace {

// How often the closing window looks again whether the upgrade thread has gone.
constexpr std::chrono::milliseconds kWorkerPollInterval{10};
constexpr int kProgressStep = 1;

// Commands that could disturb a running upgrade: they are unavailable while it runs.
constexpr std::array kBusyCommands = {ID_UPGRADE, ID_FILE_CLOSE, ID_COM_PORT, ID_BOARD_INFO, ID_FILE_NEW};

struct CommandResource {
    int id;
    const char* objectName;
    const char* menuText;
    const char* promptAndTip; // prompt, "\n", tool tip; empty for keyboard-only commands
    QKeyCombination key;
};

const CommandResource kCommandResources[] = {
    {ID_UPGRADE, "ID_UPGRADE", "&Upgrade firmware", IDS_UPGRADE, Qt::CTRL | Qt::Key_U},
    {ID_FILE_CLOSE, "ID_FILE_CLOSE", "E&xit", IDS_FILE_CLOSE, Qt::CTRL | Qt::Key_E},
    {ID_COM_PORT, "ID_COM_PORT", "&Communication port...", IDS_COM_PORT, Qt::CTRL | Qt::Key_C},
    {ID_VIEW_TOOLBAR, "ID_VIEW_TOOLBAR", "&Tool bar", IDS_VIEW_TOOLBAR, {}},
    {ID_VIEW_STATUS_BAR, "ID_VIEW_STATUS_BAR", "&Status bar", IDS_VIEW_STATUS_BAR, {}},
    {ID_BOARD_INFO, "ID_BOARD_INFO", "&Lodestar board information...", IDS_BOARD_INFO, {}},
    {ID_HOW_TO, "ID_HOW_TO", "&How to use FieldKit...", IDS_HOW_TO, {}},
    {ID_APP_ABOUT, "ID_APP_ABOUT", "&About FieldKit...", IDS_APP_ABOUT, Qt::CTRL | Qt::Key_A},
    {ID_FILE_NEW, "ID_FILE_NEW", "&New", "", Qt::CTRL | Qt::Key_N},
    {ID_VIEW_HISTORY, "ID_VIEW_HISTORY", "Upgrade &history...", IDS_VIEW_HISTORY, {}},
};

bool isBusyCommand(int id)
{
    return std::find(kBusyCommands.begin(), kBusyCommands.end(), id) != kBusyCommands.end();
}

// A wait cursor while the user interface thread talks to the board.
class WaitCursor {
public:
    WaitCursor() { QApplication::setOverrideCursor(Qt::WaitCursor); }
    ~WaitCursor() { QApplication::restoreOverrideCursor(); }
    WaitCursor(const WaitCursor&) = delete;
    WaitCursor& operator=(const WaitCursor&) = delete;
};

} // namespace

BoardLinkFactory serialBoardLinks(std::filesystem::path settingsFile)
{
    return [settingsFile = std::move(settingsFile)]() -> std::unique_ptr<link::BoardLink> {
        return std::make_unique<link::SerialBoardLink>(
            link::serialPortChannels([settingsFile](int port) { return settings::serialDeviceFor(port, settingsFile).device; }));
    };
}

// Boxes the upgrade thread raises, shown by the window's thread while the upgrade waits.
class CMainFrame::WorkerPrompts final : public Prompts {
public:
    WorkerPrompts(CMainFrame& frame, UpgradeStop& stop) : frame_(frame), stop_(stop) {}

    void error(FailureKind, const std::string& text) override { ask(BoxKind::Error, text); }
    Answer question(QuestionKind, const std::string& text) override { return ask(BoxKind::Question, text); }
    void warning(WarningKind, const std::string& text) override { ask(BoxKind::Warning, text); }

private:
    Answer ask(BoxKind kind, const std::string& text)
    {
        if (stop_.requested())
            return Answer::No;
        CMainFrame* frame = &frame_;
        return frame_.m_workerJobs->call<Answer>([frame, kind, &text] { return frame->ShowWorkerBox(kind, text); },
                                                 Answer::No);
    }

    CMainFrame& frame_;
    UpgradeStop& stop_;
};

// Upgrade notices queued to the window's thread in the order they are issued. The final
// text lives on the upgrade thread, so it is delivered with a call that waits until the
// window has shown it.
class CMainFrame::WorkerNotices final : public UpgradeNotices {
public:
    WorkerNotices(CMainFrame& frame, UpgradeStop& stop) : frame_(frame), stop_(stop) {}

    bool hasWindow() const override { return !stop_.requested(); }
    void statusText(UpgradeStage, const char* constantText) override
    {
        post(UPG_STATUS_TEXT, reinterpret_cast<std::intptr_t>(constantText));
    }
    void beginProgress(std::uint32_t pageCount) override
    {
        post(UPG_BEGIN_PROGRESS, pageCount);
    }
    void pageDone() override { post(UPG_PAGE_DONE, 0); }
    void finalText(const std::string& text) override
    {
        if (!hasWindow())
            return;
        CMainFrame* frame = &frame_;
        const auto argument = reinterpret_cast<std::intptr_t>(text.c_str());
        frame_.m_workerJobs->call<int>([frame, argument] { return frame->OnUpgradeMessage(UPG_STATUS_TEXT, argument); },
                                       0);
    }
    // The outcome waits until the run is recorded in the history.
    void finished(int result) override { result_ = result; }

    // Shows the outcome, then the history's warning when the record could not be written.
    void deliverOutcome(const std::string& historyWarning)
    {
        if (!result_ || !hasWindow())
            return;
        CMainFrame* frame = &frame_;
        frame_.m_workerJobs->post([frame, result = *result_, historyWarning] {
            frame->OnUpgradeMessage(UPG_FINISHED, result);
            if (!historyWarning.empty())
                frame->ShowWorkerBox(BoxKind::Warning, historyWarning);
        });
    }

private:
    void post(int code, std::intptr_t argument)
    {
        if (!hasWindow())
            return;
        CMainFrame* frame = &frame_;
        frame_.m_workerJobs->post([frame, code, argument] { frame->OnUpgradeMessage(code, argument); });
    }

    CMainFrame& frame_;
    UpgradeStop& stop_;
    std::optional<int> result_;
};

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

void CMainFrame::CreateCommands()
{
    for (const CommandResource& resource : kCommandResources) {
        auto* action = new QAction(QString::fromLatin1(resource.menuText), this);
        action->setObjectName(QString::fromLatin1(resource.objectName));
        const QStringList promptAndTip = QString::fromLatin1(resource.promptAndTip).split(QLatin1Char('\n'));
        action->setStatusTip(promptAndTip.value(0));
        action->setToolTip(promptAndTip.value(1));
        if (resource.key != QKeyCombination())
            action->setShortcut(QKeySequence(resource.key));
        // Keyboard commands work wherever the focus is inside the window.
        addAction(action);
        const int id = resource.id;
        if (id == ID_VIEW_TOOLBAR || id == ID_VIEW_STATUS_BAR)
            action->setCheckable(true);
        else
            connect(action, &QAction::triggered, this, [this, id] { OnCommand(id); });
        m_commands[id] = action;
    }
    UpdateCommandUI();
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
    const int needed = static_cast<int>(std::strlen(m_szFirmwareVersion)) + 1;
    if (size < needed)
        return needed;
    std::memcpy(buffer, m_szFirmwareVersion, static_cast<std::size_t>(needed));
    return 0;
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

void CMainFrame::StartUpgrade()
{
    if (m_bBusy || m_bQuitting)
        return;
    CUpgradeView* view = GetActiveView();
    // The previous run's thread has posted its last notice and is on its way out.
    if (m_worker)
        WaitForWorker(QDeadlineTimer(QDeadlineTimer::Forever));
    SetBusy(true);
    view->m_btnUpgrade->setEnabled(false);
    m_stop = std::make_unique<UpgradeStop>();
    const history::UpgradeRun run =
        startHistoryRun(history::kUpgradeCommand, m_nPort, m_szFirmwareVersion, m_services);
    m_worker.reset(QThread::create([this, stop = m_stop.get(), run] {
        RunUpgradeWorker(*stop, run);
        // The thread's end is its last hand-over to the window's thread. (Not marked on the
        // stop flag: a later store to that atomic would replace the mark.)
        markReleased(m_workerJobs);
    }));
    m_worker->start();
}

void CMainFrame::RunUpgradeWorker(UpgradeStop& stop, const history::UpgradeRun& run)
{
    WorkerPrompts prompts(*this, stop);
    WorkerNotices notices(*this, stop);
    flash::UpgradeReport report;
    try {
        const std::unique_ptr<link::BoardLink> boardLink = m_services.makeLink();
        link::StoppableBoardLink link(*boardLink, stop);
        StoppableClock clock(m_services.clock, stop);
        flash::UpgradeWorker(*this, {link, clock, prompts, notices, m_services.firmwareDirectory, &report, &stop});
    } catch (const std::exception& fault) {
        // Whatever went wrong, the window must leave its busy state.
        report.failure = FailureKind::Unexpected;
        report.message = std::string("The upgrade stopped on an unexpected fault:\n") + fault.what();
        prompts.error(FailureKind::Unexpected, report.message);
        notices.finalText(IDS_IDLE_MESSAGE);
        notices.finished(UPG_RESULT_FAILURE);
    }
    notices.deliverOutcome(recordInHistory(run, report));
}

Answer CMainFrame::ShowWorkerBox(BoxKind kind, const std::string& text)
{
    if (m_bQuitting)
        return Answer::No;
    switch (kind) {
    case BoxKind::Error:
        errorBox(this, text);
        break;
    case BoxKind::Question:
        return questionBox(this, text);
    case BoxKind::Warning:
        warningBox(this, text);
        break;
    }
    return Answer::No;
}

bool CMainFrame::WaitForWorker(QDeadlineTimer deadline)
{
    if (!m_worker->wait(deadline))
        return false;
    markAcquired(m_workerJobs);
    return true;
}

void CMainFrame::StopWorker()
{
    m_bQuitting = true;
    if (!m_worker)
        return;
    m_stop->request();
    // The thread may be waiting for this one to take its final text or answer a box; those
    // calls are served (they do nothing now) until it has gone.
    while (!WaitForWorker(QDeadlineTimer(kWorkerPollInterval)))
        m_workerJobs->runPosted();
    m_worker.reset();
}

void CMainFrame::OnUpdateBusyCommand(CCmdUI* pCmdUI)
{
    pCmdUI->Enable(!m_bBusy);
}

int CMainFrame::OnUpgradeMessage(int code, std::intptr_t argument)
{
    if (m_bQuitting)
        return 0;
    CUpgradeView* view = GetActiveView();
    CUpgradeDoc* document = GetActiveDocument();
    switch (code) {
    case UPG_PAGE_DONE: {
        QProgressBar* progress = view->m_progress;
        progress->setValue(progress->value() + kProgressStep);
        if (const auto title = progressTitle(progress->value(), progress->maximum()))
            document->SetTitle(QString::fromStdString(*title));
        break;
    }
    case UPG_FINISHED:
        view->m_btnUpgrade->setEnabled(true);
        SetBusy(false);
        if (argument == UPG_RESULT_SUCCESS) {
            plainBox(this, IDS_DONE_CAPTION, IDS_FLASHING_DONE);
            showNormal();
        }
        view->m_progress->setValue(0);
        document->SetTitle(QString::fromLatin1(IDS_DOCUMENT_TITLE));
        break;
    case UPG_STATUS_TEXT:
        if (argument != 0)
            m_wndStatusBar->showMessage(QString::fromUtf8(reinterpret_cast<const char*>(argument)));
        break;
    case UPG_BEGIN_PROGRESS:
        view->m_progress->setRange(0, static_cast<int>(argument));
        view->m_progress->setValue(0);
        break;
    default:
        break;
    }
    return 0;
}

void CMainFrame::OnCommand(int id)
{
    if (!IsCommandEnabled(id))
        return;
    switch (id) {
    case ID_UPGRADE:
        OnUpgrade();
        break;
    case ID_COM_PORT:
        OnComPort();
        break;
    case ID_BOARD_INFO:
        OnBoardInfo();
        break;
    case ID_VIEW_HISTORY:
        OnViewHistory();
        break;
    case ID_HOW_TO:
        OnHowTo();
        break;
    case ID_FILE_CLOSE:
        OnFileClose();
        break;
    case ID_APP_ABOUT:
    case ID_FILE_NEW:
        emit applicationCommand(id);
        break;
    default:
        break;
    }
}

QAction* CMainFrame::CommandAction(int id) const
{
    const auto found = m_commands.find(id);
    return found == m_commands.end() ? nullptr : found->second;
}

bool CMainFrame::IsCommandEnabled(int id)
{
    CCmdUI state{id};
    if (isBusyCommand(id))
        OnUpdateBusyCommand(&state);
    return state.m_bEnabled;
}

void CMainFrame::UpdateCommandUI()
{
    for (const int id : kBusyCommands)
        if (QAction* action = CommandAction(id))
            action->setEnabled(IsCommandEnabled(id));
}

void CMainFrame::SetBusy(bool busy)
{
    m_bBusy = busy;
    UpdateCommandUI();
    emit busyChanged(busy);
}

void CMainFrame::OnUpgrade()
{
    StartUpgrade();
}

void CMainFrame::OnComPort()
{
    CComPortDlg dialog(m_nPort, this);
    if (dialog.DoModal() != IDOK || dialog.m_nPort == m_nPort)
        return;
    m_nPort = dialog.m_nPort;
    std::string reason;
    if (!settings::writePortSetting(m_services.settingsFile, m_nPort, &reason)) {
        const std::string port = "COM" + std::to_string(m_nPort);
        warningBox(this, "The COM port setting could not be saved in " + m_services.settingsFile.filename().string() +
                             ":\n" + reason + "\n\n" + port +
                             " is used until FieldKit is closed; the next start uses the previous setting.");
    }
}

void CMainFrame::OnBoardInfo()
{
    CBoardInfoDlg dialog(this);
    const history::UpgradeRun run =
        startHistoryRun(history::kInfoCommand, m_nPort, m_szFirmwareVersion, m_services);
    const std::unique_ptr<link::BoardLink> boardLink = m_services.makeLink();
    link::BoardConnection connection(*boardLink, BoardClock());
    std::optional<link::ConnectionFailure> failure;
    {
        const WaitCursor waiting;
        failure = connection.readBoardInformation(m_nPort);
    }
    const std::string historyWarning =
        recordInHistory(run, history::reportOfBoardRead(connection.identity(), failure, false));
    if (failure) {
        connection.close();
        errorBox(this, failure->text);
    } else {
        dialog.m_strFirmwareVersion = QString::fromStdString(connection.identity().boardVersionText);
        dialog.m_strEsn = QString::fromStdString(connection.identity().esnText);
        // The port stays open while the dialog shows what was read from it.
        dialog.DoModal();
        connection.close();
    }
    if (!historyWarning.empty())
        warningBox(this, historyWarning);
}

void CMainFrame::OnViewHistory()
{
    if (m_historyWindow == nullptr) {
        m_historyWindow = new HistoryWindow(history::historyFile(), this);
        m_historyWindow->setAttribute(Qt::WA_DeleteOnClose);
    } else {
        m_historyWindow->reload();
    }
    m_historyWindow->show();
    m_historyWindow->raise();
    m_historyWindow->activateWindow();
}

void CMainFrame::OnHowTo()
{
    plainBox(this, IDS_HOW_TO_CAPTION, IDS_HOW_TO_TEXT);
}

void CMainFrame::OnFileClose()
{
    close();
}

Clock& CMainFrame::BoardClock()
{
    return m_services.clock != nullptr ? *m_services.clock : m_systemClock;
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
