#include "app/bench_window.h"

#include "app/bench_pane.h"
#include "app/bench_ports_dlg.h"
#include "app/history_window.h"
#include "app/message_boxes.h"
#include "app/resource.h"
#include "app/thread_handoff.h"
#include "app/tsan_marks.h"
#include "app/upgrade_history.h"
#include "app/window_prompts.h"
#include "core/com_port.h"
#include "core/progress_text.h"
#include "core/stop.h"
#include "history/history_record.h"
#include "link/serial_board_link.h"
#include "link/serial_port.h"
#include "settings/port_devices.h"
#include "sim/simulated_board.h"

#include <QAction>
#include <QCloseEvent>
#include <QGridLayout>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>
#include <QVBoxLayout>

#include <algorithm>
#include <chrono>
#include <stdexcept>

namespace fieldkit::app {
namespace {

// How often the closing window looks again whether the bench's thread has gone.
constexpr std::chrono::milliseconds kBenchPollInterval{10};
constexpr int kPermille = 1000;
constexpr int kPaneColumns = 2;
constexpr int kListBoxColumns = 56;
// Four boards write a few hundred pages a second between them; every page handed to the
// window's thread would wake it as often, and slow the runs on a busy machine. A port's
// progress goes there at most this often, and its last page always.
constexpr std::chrono::milliseconds kPageNoticeInterval{100};

constexpr const char* kEmulatedBoard = "emulated board";
constexpr const char* kUpgrading = "Upgrading the boards";
constexpr const char* kStopping = "Stopping every board at its next safe point...";

// Every port's text as one, the port in front of each, one after the other.
std::string byPort(const std::vector<std::pair<int, std::string>>& texts, const char* between)
{
    std::string joined;
    for (const auto& [port, text] : texts)
        joined += (joined.empty() ? "" : between) + comPortName(port) + ": " + text;
    return joined;
}

} // namespace

// The boxes about the firmware files, asked once for every board, on the bench's thread.
class BenchWindow::FilesView final : public HintedView {
public:
    explicit FilesView(BenchWindow& window) : window_(window) {}

    Answer question(QuestionKind kind, const std::string& text) override
    {
        return window_.AskFromRun(IDS_WARNING_CAPTION, hinted(kind, text), true);
    }
    void warning(WarningKind kind, const std::string& text) override
    {
        window_.AskFromRun(IDS_WARNING_CAPTION, hinted(kind, text), false);
    }
    // A failure of the files is every port's: each pane shows it once its run is recorded.
    void notice(const std::string& text) override
    {
        BenchWindow* window = &window_;
        window_.m_jobs->post([window, text] { window->statusBar()->showMessage(QString::fromStdString(text)); });
    }

private:
    BenchWindow& window_;
};

// One port's run, on its own thread: its questions in boxes titled with its port, everything
// else in its pane.
class BenchWindow::PortView final : public HintedView {
public:
    PortView(BenchWindow& window, std::size_t row) : window_(window), row_(row) {}

    Answer question(QuestionKind kind, const std::string& text) override
    {
        return window_.AskFromRun(comPortName(window_.m_ports[row_]), hinted(kind, text), true);
    }
    // A failure reaches the pane with the outcome, its hint with it.
    void warning(WarningKind kind, const std::string& text) override
    {
        BenchWindow* window = &window_;
        window_.m_jobs->post([window, row = row_, text = hinted(kind, text)] { window->m_panes[row]->showMessage(text); });
    }
    void progress(const session::ProgressEvent& event) override
    {
        if (const auto* page = std::get_if<session::PageWritten>(&event)) {
            const auto now = std::chrono::steady_clock::now();
            if (page->pagesDone != page->pageCount && now - lastPageShown_ < kPageNoticeInterval)
                return;
            lastPageShown_ = now;
        }
        BenchWindow* window = &window_;
        window_.m_jobs->post([window, row = row_, event] { window->OnProgress(row, event); });
    }

private:
    BenchWindow& window_;
    std::size_t row_;
    std::chrono::steady_clock::time_point lastPageShown_;
};

class BenchWindow::Views final : public session::BenchView {
public:
    explicit Views(BenchWindow& window) : window_(window), files_(window)
    {
        for (std::size_t row = 0; row < window.m_ports.size(); ++row)
            ports_.push_back(std::make_unique<PortView>(window, row));
    }

    session::RunView& files() override { return files_; }
    // The lines are made: each pane shows where its board is now.
    void runsStarting() override
    {
        BenchWindow* window = &window_;
        window_.m_jobs->post([window] {
            for (std::size_t row = 0; row < window->m_ports.size(); ++row)
                window->m_panes[row]->starting(window->DeviceShown(window->m_ports[row]), "Starting");
        });
    }
    session::RunView& port(std::size_t row) override { return *ports_[row]; }
    void portEnded(std::size_t row, const session::PortOutcome& outcome) override
    {
        BenchWindow* window = &window_;
        window_.m_jobs->post([window, row, outcome] { window->OnPortEnded(row, outcome); });
    }

private:
    BenchWindow& window_;
    FilesView files_;
    std::vector<std::unique_ptr<PortView>> ports_;
};

BenchWindow::BenchWindow(std::vector<int> ports, BenchServices services)
    : m_ports(std::move(ports)), m_services(std::move(services))
{
    m_jobs = new WindowThreadJobs(this);
    setWindowTitle(QString::fromLatin1(IDS_BENCH_TITLE));
    CreateMenus();
    auto* central = new QWidget(this);
    auto* layout = new QVBoxLayout(central);
    m_paneArea = new QWidget(central);
    layout->addWidget(m_paneArea);
    auto* upgradeAll = new QPushButton(QStringLiteral("&Upgrade all"), central);
    connect(upgradeAll, &QPushButton::clicked, this, &BenchWindow::UpgradeAll);
    connect(this, &BenchWindow::runningChanged, upgradeAll, [upgradeAll](bool running) { upgradeAll->setEnabled(!running); });
    layout->addWidget(upgradeAll, 0, Qt::AlignLeft);
    setCentralWidget(central);
    CreatePanes();
    statusBar()->showMessage(QString::fromLatin1(IDS_IDLE_MESSAGE));
}

BenchWindow::~BenchWindow()
{
    m_destroying = true;
    if (!m_thread)
        return;
    StopBench();
    // The runs may be waiting for this thread to take a box; those are answered No until the
    // bench's thread has gone.
    while (!WaitForBench(QDeadlineTimer(kBenchPollInterval)))
        m_jobs->runPosted();
}

void BenchWindow::CreateMenus()
{
    QMenu* file = menuBar()->addMenu(QStringLiteral("File"));
    m_upgradeAll = file->addAction(QStringLiteral("Upgrade &all"), this, &BenchWindow::UpgradeAll);
    m_upgradeAll->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_U));
    m_upgradeAll->setStatusTip(QStringLiteral("Upgrade the board on every port of the bench at once"));
    file->addSeparator();
    QAction* exit = file->addAction(QStringLiteral("E&xit"), this, &QWidget::close);
    exit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
    QMenu* configuration = menuBar()->addMenu(QStringLiteral("Configuration"));
    m_choosePorts = configuration->addAction(QStringLiteral("&Bench..."), this, &BenchWindow::ChoosePorts);
    m_choosePorts->setStatusTip(QStringLiteral("Choose the COM ports of the bench"));
    QMenu* view = menuBar()->addMenu(QStringLiteral("View"));
    view->addAction(QStringLiteral("Upgrade &history..."), this, [this] { showHistoryWindow(m_historyWindow, this); });
    for (QAction* action : {m_upgradeAll, m_choosePorts})
        connect(this, &BenchWindow::runningChanged, action, [action](bool running) { action->setEnabled(!running); });
}

void BenchWindow::CreatePanes()
{
    for (BenchPane* pane : m_panes)
        delete pane;
    m_panes.clear();
    delete m_paneArea->layout();
    auto* grid = new QGridLayout(m_paneArea);
    grid->setContentsMargins(0, 0, 0, 0);
    for (std::size_t row = 0; row < m_ports.size(); ++row) {
        auto* pane = new BenchPane(m_ports[row], DeviceShown(m_ports[row]), m_paneArea);
        grid->addWidget(pane, static_cast<int>(row) / kPaneColumns, static_cast<int>(row) % kPaneColumns);
        m_panes.push_back(pane);
    }
    m_stages.assign(m_ports.size(), UpgradeStage::LoadingFiles);
    m_ended.assign(m_ports.size(), true);
    adjustSize();
}

std::string BenchWindow::DeviceShown(int port) const
{
    if (!m_services.emulated)
        return session::placeFor(port, m_services.settingsFile).device;
    const auto board = m_boards.find(port);
    return board != m_boards.end() ? board->second->location() : kEmulatedBoard;
}

session::BenchLine BenchWindow::MakeLine(int port)
{
    if (m_services.line)
        return m_services.line(port);
    if (!m_services.emulated) {
        const auto settingsFile = m_services.settingsFile;
        return {[settingsFile](Clock& clock) {
                    return std::make_unique<link::SerialBoardLink>(
                        link::serialPortChannels(
                            [settingsFile](int port) { return settings::serialDeviceFor(port, settingsFile).device; }),
                        &clock);
                },
                {},
                nullptr};
    }
    auto& board = m_boards[port];
    if (!board) {
        auto started = std::make_unique<sim::SimulatedBoard>(*m_services.emulated);
        std::string error;
        if (!started->start(&error))
            throw std::runtime_error("The emulated board for " + comPortName(port) + " could not be started: " + error);
        board = std::move(started);
    }
    return {[channels = board->channels(link::serialChannel)](Clock& clock) {
                return std::make_unique<link::SerialBoardLink>(channels, &clock);
            },
            board->location(), nullptr};
}

void BenchWindow::UpgradeAll()
{
    if (m_running)
        return;
    if (const auto conflict =
            session::benchPortsConflict(m_ports, m_services.settingsFile, m_services.emulated.has_value())) {
        errorBox(this, *conflict);
        return;
    }
    // The last run's thread has handed over its end and is on its way out.
    if (m_thread)
        WaitForBench(QDeadlineTimer(QDeadlineTimer::Forever));
    for (std::size_t row = 0; row < m_ports.size(); ++row)
        m_panes[row]->starting(DeviceShown(m_ports[row]), "Reading the firmware files");
    m_stages.assign(m_ports.size(), UpgradeStage::LoadingFiles);
    m_ended.assign(m_ports.size(), false);
    m_stopping = false;
    m_endingProgram = false;
    m_stop = std::make_shared<UpgradeStop>();
    m_views = std::make_unique<Views>(*this);
    statusBar()->showMessage(QString::fromLatin1(kUpgrading));
    SetRunning(true);
    UpdateOverall();

    session::BenchPlan plan;
    plan.ports = m_ports;
    plan.settingsFile = m_services.settingsFile;
    plan.firmwareDirectory = m_services.firmwareDirectory;
    plan.simulated = m_services.emulated.has_value();
    plan.line = [this](int port) { return MakeLine(port); };
    m_thread.reset(QThread::create([this, plan, stop = m_stop, views = m_views.get()] {
        std::optional<session::BenchOutcome> outcome;
        std::string failure;
        try {
            outcome = session::runBench(plan, *views, *stop, [stop] { return stop->anyRequested(); });
        } catch (const std::exception& fault) { // a line that could not be made
            failure = fault.what();
        }
        // Every port's result is in its pane by now; what waits goes to the shop database
        // before the summary, unless the bench was stopped.
        const std::string shop = outcome && !stop->anyRequested() ? shopWarning() : std::string();
        m_jobs->post([this, outcome, failure, shop] { OnBenchEnded(outcome, failure, shop); });
        // The thread's end is its last hand-over to the window's thread.
        markReleased(m_jobs);
    }));
    m_thread->start();
}

void BenchWindow::ChoosePorts()
{
    if (m_running)
        return;
    CBenchPortsDlg dialog(m_ports, this);
    if (dialog.DoModal() != IDOK || dialog.m_ports == m_ports)
        return;
    m_ports = dialog.m_ports;
    CreatePanes();
    std::string reason;
    if (!session::writeBenchPorts(m_services.settingsFile, m_ports, &reason))
        warningBox(this, "The bench's ports could not be saved in " + m_services.settingsFile.filename().string() +
                             ":\n" + reason + "\n\nThey are used until FieldKit is closed.");
}

Answer BenchWindow::AskFromRun(const std::string& caption, const std::string& text, bool question)
{
    auto answer = std::make_shared<std::promise<Answer>>();
    std::future<Answer> answered = answer->get_future();
    BenchWindow* window = this;
    m_jobs->post([window, request = BoxRequest{caption, text, question, answer}] { window->QueueBox(request); });
    try {
        return answered.get();
    } catch (const std::future_error&) { // the window went before it got to the box
        return Answer::No;
    }
}

// One box at a time: a board that asks while another board's box is open waits its turn, and
// the runs that ask nothing go on meanwhile.
void BenchWindow::QueueBox(BoxRequest request)
{
    if (m_stopping || m_destroying) {
        request.answer->set_value(Answer::No);
        return;
    }
    m_boxes.push_back(std::move(request));
    if (m_showingBoxes)
        return;
    m_showingBoxes = true;
    while (!m_boxes.empty()) {
        const BoxRequest next = std::move(m_boxes.front());
        m_boxes.pop_front();
        next.answer->set_value(m_stopping ? Answer::No : ShowBox(next));
    }
    m_showingBoxes = false;
}

// The end of a bench, a line a port: wide enough for its caption and its lines.
void BenchWindow::ListBox(const char* caption, const std::string& text)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(caption), QString::fromStdString(text), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    // The results can be selected and copied, to pass them on.
    box.setTextInteractionFlags(Qt::TextSelectableByMouse);
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout()))
        grid->addItem(new QSpacerItem(fontMetrics().averageCharWidth() * kListBoxColumns, 0), grid->rowCount(), 0, 1,
                      grid->columnCount());
    box.exec();
}

Answer BenchWindow::ShowBox(const BoxRequest& request)
{
    QMessageBox box(QMessageBox::Warning, QString::fromStdString(request.caption), QString::fromStdString(request.text),
                    request.question ? QMessageBox::Yes | QMessageBox::No : QMessageBox::Ok, this);
    box.setDefaultButton(request.question ? QMessageBox::No : QMessageBox::Ok);
    box.setTextFormat(Qt::PlainText);
    m_openBox = &box;
    const int result = box.exec();
    m_openBox = nullptr;
    return result == QMessageBox::Yes ? Answer::Yes : Answer::No;
}

void BenchWindow::OnProgress(std::size_t row, const session::ProgressEvent& event)
{
    if (m_destroying)
        return;
    m_panes[row]->show(event);
    if (const auto* step = std::get_if<session::StepEntered>(&event))
        m_stages[row] = step->stage;
    UpdateOverall();
}

void BenchWindow::OnPortEnded(std::size_t row, const session::PortOutcome& outcome)
{
    if (m_destroying)
        return;
    m_panes[row]->ended(outcome);
    m_ended[row] = true;
    UpdateOverall();
}

void BenchWindow::OnBenchEnded(const std::optional<session::BenchOutcome>& outcome, const std::string& failure,
                               const std::string& shopWarning)
{
    if (m_destroying)
        return;
    std::fill(m_ended.begin(), m_ended.end(), true);
    SetRunning(false);
    UpdateOverall();
    statusBar()->showMessage(QString::fromLatin1(IDS_IDLE_MESSAGE));
    if (outcome) {
        emit benchEnded(*outcome);
    } else { // no line was made and no run started: every board failed as it was
        session::BenchOutcome failed;
        for (int port : m_ports)
            failed.ports.emplace_back().port = port;
        emit benchEnded(failed);
    }
    if (m_endingProgram)
        return;
    if (!outcome) {
        errorBox(this, failure);
        return;
    }
    std::vector<std::pair<int, std::string>> results;
    std::vector<std::pair<int, std::string>> warnings;
    for (const auto& port : outcome->ports) {
        const session::SummaryRow row = session::summaryRow(port);
        results.emplace_back(port.port, m_closeAfterStop ? session::whereBoardStands(port)
                                                         : row.result + ", " + row.time +
                                                               (row.message.empty() ? "" : ": " + row.message));
        if (!port.adapterHint.empty())
            warnings.emplace_back(port.port, port.adapterHint);
        for (const std::string& warning : session::recordWarnings(history::kUpgradeCommand, port.recorded))
            warnings.emplace_back(port.port, warning);
    }
    ListBox(m_closeAfterStop ? IDS_BENCH_STOPPED_CAPTION : IDS_BENCH_FINISHED_CAPTION, byPort(results, "\n"));
    std::string warningText = byPort(warnings, "\n\n");
    if (!shopWarning.empty())
        warningText += (warningText.empty() ? "" : "\n\n") + shopWarning;
    if (!warningText.empty())
        warningBox(this, warningText);
    if (m_closeAfterStop)
        close();
}

void BenchWindow::UpdateOverall()
{
    int done = 0;
    bool holding = false;
    for (std::size_t row = 0; row < m_panes.size(); ++row) {
        done += m_panes[row]->progressPermille();
        holding = holding || (!m_ended[row] && boardChangedFrom(m_stages[row]));
    }
    const int whole = static_cast<int>(m_panes.size()) * kPermille;
    const auto title = progressTitle(done, whole);
    setWindowTitle(m_running && title ? QString::fromStdString(*title) + QLatin1String(IDS_CAPTION_SEPARATOR) +
                                            QLatin1String(IDS_BENCH_TITLE)
                                      : QString::fromLatin1(IDS_BENCH_TITLE));
    if (m_running)
        emit progressChanged(done, whole);
    if (holding != m_holding) {
        m_holding = holding;
        emit holdingChanged(holding);
    }
}

void BenchWindow::SetRunning(bool running)
{
    m_running = running;
    emit runningChanged(running);
}

void BenchWindow::StopBench()
{
    if (m_stop)
        m_stop->request();
    AnswerEveryBoxNo();
}

void BenchWindow::StopBeforeErase()
{
    if (!m_running)
        return;
    m_endingProgram = true;
    m_stop->requestBeforeErase();
    AnswerEveryBoxNo();
}

void BenchWindow::AnswerEveryBoxNo()
{
    m_stopping = true;
    for (const BoxRequest& waiting : m_boxes)
        waiting.answer->set_value(Answer::No);
    m_boxes.clear();
    if (m_openBox != nullptr)
        m_openBox->reject();
}

bool BenchWindow::WaitForBench(QDeadlineTimer deadline)
{
    if (!m_thread->wait(deadline))
        return false;
    markAcquired(m_jobs);
    return true;
}

void BenchWindow::closeEvent(QCloseEvent* event)
{
    if (!m_running) {
        event->accept();
        return;
    }
    event->ignore();
    if (m_stopping)
        return;
    if (questionBox(this, IDS_BENCH_QUIT_WHILE_FLASHING) != Answer::Yes || !m_running)
        return;
    // Every board stops at its next safe point; the window closes once each one is recorded
    // and the user has been told where it stands.
    m_closeAfterStop = true;
    StopBench();
    statusBar()->showMessage(QString::fromLatin1(kStopping));
}

std::unique_ptr<BenchWindow> openBench(const CommandLine& commandLine)
{
    BenchServices services;
    if (commandLine.simulate)
        services.emulated = sim::parseBoardOptions(commandLine.boardOptions);
    std::vector<int> ports = commandLine.bench && !commandLine.bench->empty()
                                 ? *commandLine.bench
                                 : session::readBenchPorts(services.settingsFile);
    if (ports.empty()) {
        CBenchPortsDlg dialog({}, nullptr);
        if (dialog.DoModal() != IDOK)
            return nullptr;
        ports = dialog.m_ports;
        std::string reason;
        if (!session::writeBenchPorts(services.settingsFile, ports, &reason))
            warningBox(nullptr, "The bench's ports could not be saved in " + services.settingsFile.filename().string() +
                                    ":\n" + reason);
    }
    auto window = std::make_unique<BenchWindow>(std::move(ports), std::move(services));
    window->show();
    return window;
}

} // namespace fieldkit::app
