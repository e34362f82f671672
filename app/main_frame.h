#pragma once

#include "core/clock.h"
#include "core/prompts.h"
#include "flash/upgrade_worker.h"
#include "session/front_end.h"
#include "session/session.h"
#include "link/board_link.h"
#include "settings/app_settings.h"

#include <QDeadlineTimer>
#include <QMainWindow>
#include <QPointer>

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

class QAction;
class QStatusBar;
class QThread;
class QToolBar;

namespace fieldkit {
class UpgradeStop;
}

namespace fieldkit::app {

class CUpgradeDoc;
class CUpgradeView;
class HistoryWindow;

// Makes a board link. Called on the thread that will use it: a serial port belongs to the
// thread that opened it.
using BoardLinkFactory = std::function<std::unique_ptr<link::BoardLink>()>;

// The serial link over the COM port mapping of `settingsFile`.
BoardLinkFactory serialBoardLinks(std::filesystem::path settingsFile);

// What the frame works with; tests put an emulated board and a fake clock here.
struct FrameServices {
    BoardLinkFactory makeLink; // empty: the serial link
    Clock* clock = nullptr;    // empty: real time
    std::filesystem::path settingsFile = settings::settingsFile();
    std::filesystem::path firmwareDirectory = ".";
    std::string emulatedBoard; // where --simulate's emulated board is; empty for the radio
};

// The enable state of one command, asked for before the command is shown or run.
struct CCmdUI {
    int m_nID;
    bool m_bEnabled = true;
    void Enable(bool enabled = true) { m_bEnabled = enabled; }
};

// The main window: menu, tool bar and a status bar with one message pane around the form.
// It holds the COM port and firmware version settings, carries the busy mark while an
// upgrade runs on its own thread, shows the upgrade's progress and guards closing. Its
// members live by job: the window and its widgets in main_frame.cpp, the command table and
// its enabling in frame_commands.cpp, the upgrade's thread with its notices and boxes in
// upgrade_thread.cpp.
class WindowThreadJobs;

class CMainFrame final : public QMainWindow, public flash::UpgradeFrame {
    Q_OBJECT
public:
    explicit CMainFrame(CUpgradeDoc& document, FrameServices services = {});
    ~CMainFrame() override;

    // Builds the menu, the tool bar and the status bar and reads the settings (which may warn).
    void OnCreate();

    void SetActiveView(CUpgradeView* view);
    CUpgradeView* GetActiveView() const { return m_view; }
    CUpgradeDoc* GetActiveDocument() const { return &m_document; }

    // flash::UpgradeFrame, for the about dialog. An upgrade takes the two settings into its
    // plan when it starts, and never reaches back into the window for them.
    int GetPort() override;
    int GetFirmwareVersion(char* buffer, int size) override;

    void ReadFirmwareVersionSetting();
    void ReadPortSetting();

    // Starts an upgrade on a thread of its own; does nothing while one runs.
    void StartUpgrade();
    // A stop asked for from outside the window (a signal, the desktop session ending): the
    // running upgrade ends at its next safe point before the erase, or goes on to its end
    // once it has begun to erase, since only a finished board is whole.
    void StopBeforeErase();
    // Whether the running upgrade has begun to erase the board.
    bool IsPastErase() const { return m_bBusy && m_bPastErase; }

    void OnUpdateBusyCommand(CCmdUI* pCmdUI);

    // An upgrade's progress, on the window's thread in the order the upgrade gave it.
    void OnUpgradeMessage(const session::ProgressEvent& notice);

    // Runs a command the way the menu, the tool bar and the keyboard do: a disabled one does
    // nothing.
    void OnCommand(int id);
    QAction* CommandAction(int id) const;
    bool IsBusy() const { return m_bBusy; }

    void RecalcLayout();
    // Fits the window around the form, shrinking only.
    void ResizeParentToFit();

signals:
    // Commands the application object handles: the about box and the new document.
    void applicationCommand(int id);
    // An upgrade started (true) or ended (false).
    void busyChanged(bool busy);
    // An upgrade ended and was recorded: how, and the last step it entered.
    void upgradeEnded(flash::RunResult result, UpgradeStage stage);

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    class WorkerView;
    enum class BoxKind { Error, Question, Warning };

    void CreateCommands();
    void CreateMenu();
    void CreateToolBar();
    void CreateStatusBar();

    void OnUpgrade();
    void OnComPort();
    void OnBoardInfo();
    void OnViewHistory();
    void OnHowTo();
    void OnFileClose();
    void OnClose(QCloseEvent* event);

    void SetBusy(bool busy);
    void UpdateCommandUI();
    bool IsCommandEnabled(int id);
    void ShowIdleMessage();
    // A warning shown now when the window is on screen, else once it is (see ReadPortSetting).
    void WarnOnScreen(const std::string& text);
    void ShowWarningsHeldForTheScreen();

    // The upgrade thread's body and the box it asks this thread to show. The run is recorded
    // in the history before its outcome is shown.
    void RunUpgradeThread(UpgradeStop& stop, const session::UpgradePlan& plan);
    // The frame's link factory as a session takes it.
    session::LinkFactory sessionLinks() const;
    Answer ShowWorkerBox(BoxKind kind, const std::string& text);
    // Ends a running upgrade thread for good; the window then takes no more notices.
    void StopWorker();
    // Whether the upgrade thread has ended by `deadline`; all it did is then seen here.
    bool WaitForWorker(QDeadlineTimer deadline);
    void ShowShopWarning(const std::string& warning);

    QStatusBar* m_wndStatusBar = nullptr;
    QToolBar* m_wndToolBar = nullptr;
    int m_nPort = 1;
    char m_szFirmwareVersion[settings::kVersionBuffer] = {};
    bool m_bBusy = false;
    bool m_bPastErase = false;

    CUpgradeDoc& m_document;
    CUpgradeView* m_view = nullptr;
    FrameServices m_services;
    std::map<int, QAction*> m_commands;
    std::unique_ptr<QThread> m_worker;
    // Where the upgrade thread's notices and boxes are run on this window's thread.
    WindowThreadJobs* m_workerJobs = nullptr;
    std::shared_ptr<UpgradeStop> m_stop;
    // Set once the window is going away during an upgrade: notices and boxes are dropped.
    bool m_bQuitting = false;
    // While the run's outcome is on screen, the shop's warning (whose push began once the
    // outcome was handed over) waits here to follow it instead of covering it.
    bool m_bShowingOutcome = false;
    std::string m_shopWarningAfterOutcome;
    // Start-up warnings that wait for the window to be on screen.
    std::vector<std::string> m_warningsForTheScreen;
    QPointer<HistoryWindow> m_historyWindow;
};

} // namespace fieldkit::app
