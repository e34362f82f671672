#include "app/main_frame.h"

// The command table: every command's menu text, prompt, tool tip and key, which ones wait
// while an upgrade runs, and what each one does.

#include "app/board_info_dlg.h"
#include "app/com_port_dlg.h"
#include "app/history_window.h"
#include "app/message_boxes.h"
#include "app/resource.h"
#include "app/upgrade_history.h"
#include "app/window_prompts.h"
#include "core/com_port.h"
#include "history/history_record.h"
#include "session/session.h"

#include <QAction>
#include <QApplication>

#include <algorithm>
#include <array>
#include <optional>

namespace fieldkit::app {
namespace {

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

void CMainFrame::OnUpdateBusyCommand(CCmdUI* pCmdUI)
{
    pCmdUI->Enable(!m_bBusy);
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
        const std::string port = comPortName(m_nPort);
        warningBox(this, "The COM port setting could not be saved in " + m_services.settingsFile.filename().string() +
                             ":\n" + reason + "\n\n" + port +
                             " is used until FieldKit is closed; the next start uses the previous setting.");
    }
}

void CMainFrame::OnBoardInfo()
{
    CBoardInfoDlg dialog(this);
    std::optional<WaitCursor> waiting(std::in_place);
    WindowPrompts prompts(this, [&waiting] { waiting.reset(); });
    UpgradeStop neverStopped; // the read is short and the window waits for it
    const auto showWhileOpen = [&](const link::BoardIdentity& identity) {
        waiting.reset();
        dialog.m_strFirmwareVersion = QString::fromStdString(identity.boardVersionText);
        dialog.m_strEsn = QString::fromStdString(identity.esnText);
        // The port stays open while the dialog shows what was read from it.
        dialog.DoModal();
    };
    const auto outcome =
        session::readBoard(session::placeFor(m_nPort, m_services.settingsFile, m_services.emulatedBoard),
                           m_szFirmwareVersion, {sessionLinks(), prompts, neverStopped, m_services.clock, {}}, showWhileOpen);
    waiting.reset();
    if (const std::string warning = historyWarning(history::kInfoCommand, outcome.recorded); !warning.empty())
        warningBox(this, warning);
    if (const std::string warning = shopWarning(); !warning.empty())
        warningBox(this, warning);
}

void CMainFrame::OnViewHistory()
{
    showHistoryWindow(m_historyWindow, this);
}

void CMainFrame::OnHowTo()
{
    plainBox(this, IDS_HOW_TO_CAPTION, IDS_HOW_TO_TEXT);
}

void CMainFrame::OnFileClose()
{
    close();
}

} // namespace fieldkit::app
