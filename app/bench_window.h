#pragma once

#include "app/command_line.h"
#include "core/prompts.h"
#include "session/bench.h"
#include "settings/app_settings.h"
#include "sim/board_options.h"

#include <QDeadlineTimer>
#include <QMainWindow>
#include <QPointer>

#include <deque>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QMessageBox;
class QThread;

namespace fieldkit {
class UpgradeStop;
}

namespace fieldkit::sim {
class SimulatedBoard;
}

namespace fieldkit::app {

class BenchPane;
class HistoryWindow;
class WindowThreadJobs;

inline constexpr const char* IDS_BENCH_TITLE = "FieldKit Bench";
inline constexpr const char* IDS_BENCH_FINISHED_CAPTION = "Bench finished";
inline constexpr const char* IDS_BENCH_STOPPED_CAPTION = "Bench stopped";
inline constexpr const char* IDS_BENCH_QUIT_WHILE_FLASHING =
    "Boards on this bench are being flashed.\n"
    "Quitting now stops every board at its next safe point; a board whose flash was erased holds no "
    "whole firmware until it is upgraded again.\n\n"
    "Do you want to quit anyway?";

// What the bench works with; tests put emulated boards and fake clocks here.
struct BenchServices {
    std::filesystem::path settingsFile = settings::settingsFile();
    std::filesystem::path firmwareDirectory = ".";
    // Makes the line to a port's board, on the bench's thread; empty: the serial port the
    // settings file and FIELDKIT_COMn map the port to, or an emulated board of `emulated`.
    std::function<session::BenchLine(int port)> line;
    // --simulate: an emulated board of these options behind every port, one each.
    std::optional<sim::BoardOptions> emulated;
};

// The bench in one window: a pane per port, "Upgrade all" to upgrade every board at once (the
// session runs the bench on a thread of its own), a question about one board in a box titled
// with its port while the others go on, and at the end a box that lists every port's result.
// Closing during a run asks first, stops every board at its next safe point and says where
// each one stands.
class BenchWindow final : public QMainWindow {
    Q_OBJECT
public:
    explicit BenchWindow(std::vector<int> ports, BenchServices services = {});
    ~BenchWindow() override;

    // Upgrades every board; does nothing while a run goes.
    void UpgradeAll();
    // The "Bench" dialog: the ports to show, kept in the settings file.
    void ChoosePorts();

    bool IsRunning() const { return m_running; }
    // Whether any board is past its erase: logging off or shutting down would cut its upgrade.
    bool IsPastErase() const { return m_holding; }
    // A stop asked for from outside the window (a signal, the desktop session ending): every
    // board before its erase stops at its next safe point, every board past it goes on to its
    // end, since only a finished board is whole. Every box is answered No from now on, and
    // the bench ends without boxes: nobody may be there to read them.
    void StopBeforeErase();
    const std::vector<int>& ports() const { return m_ports; }
    BenchPane* pane(std::size_t row) const { return m_panes[row]; }
    QAction* upgradeAllAction() const { return m_upgradeAll; }

signals:
    // A run started (true) or ended (false).
    void runningChanged(bool running);
    // Whether any board is past its erase: logging off or shutting down would cut its upgrade.
    void holdingChanged(bool holding);
    // The bench's overall progress, of `maximum`.
    void progressChanged(int value, int maximum);
    // The bench ended and every run that started was recorded.
    void benchEnded(const session::BenchOutcome& outcome);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class FilesView;
    class PortView;
    class Views;

    struct BoxRequest {
        std::string caption;
        std::string text;
        bool question;
        std::shared_ptr<std::promise<Answer>> answer;
    };

    void CreateMenus();
    void CreatePanes();
    std::string DeviceShown(int port) const;
    session::BenchLine MakeLine(int port);

    // A box for a run, from the run's thread: shown by the window's thread in its turn.
    Answer AskFromRun(const std::string& caption, const std::string& text, bool question);
    // On the window's thread, from the runs:
    void QueueBox(BoxRequest request);
    Answer ShowBox(const BoxRequest& request);
    void OnProgress(std::size_t row, const session::ProgressEvent& event);
    void OnPortEnded(std::size_t row, const session::PortOutcome& outcome);
    void OnBenchEnded(const std::optional<session::BenchOutcome>& outcome, const std::string& failure,
                      const std::string& shopWarning);
    void ListBox(const char* caption, const std::string& text);
    void UpdateOverall();
    void SetRunning(bool running);

    // Asks every run to stop at its next safe point; every box waiting is answered No.
    void StopBench();
    // Answers No to the box open and every box waiting, and to every box from now on.
    void AnswerEveryBoxNo();
    // Whether the bench's thread has ended by `deadline`; all it did is then seen here.
    bool WaitForBench(QDeadlineTimer deadline);

    std::vector<int> m_ports;
    BenchServices m_services;
    std::vector<BenchPane*> m_panes;
    QWidget* m_paneArea = nullptr;
    QAction* m_upgradeAll = nullptr;
    QAction* m_choosePorts = nullptr;
    WindowThreadJobs* m_jobs = nullptr;
    std::unique_ptr<QThread> m_thread;
    std::shared_ptr<UpgradeStop> m_stop;
    std::unique_ptr<Views> m_views;
    // The emulated boards of --simulate by port, started with the first run and kept, as a
    // radio keeps what was written to it.
    std::map<int, std::unique_ptr<sim::SimulatedBoard>> m_boards;
    std::vector<UpgradeStage> m_stages; // the step each port's run entered last
    std::vector<bool> m_ended;
    bool m_running = false;
    bool m_holding = false;
    bool m_stopping = false;      // every box is answered No
    bool m_endingProgram = false; // stopped from outside the window: no box at the end
    bool m_closeAfterStop = false;
    bool m_destroying = false;
    std::deque<BoxRequest> m_boxes;
    bool m_showingBoxes = false;
    QPointer<QMessageBox> m_openBox;
    QPointer<HistoryWindow> m_historyWindow;
};

// The bench `fieldkit --bench` opens: the ports given, else those kept in the settings file,
// else those chosen in the "Bench" dialog (none: the program ends). Throws
// std::invalid_argument for bad --sim-option values.
std::unique_ptr<BenchWindow> openBench(const CommandLine& commandLine);

} // namespace fieldkit::app
