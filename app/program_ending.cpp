#include "app/program_ending.h"

#include "app/bench_window.h"
#include "app/message_boxes.h"
#include "app/resource.h"

#include <QApplication>
#include <QDialog>
#include <QEventLoop>
#include <QSessionManager>

#include <chrono>
#include <cstdio>

namespace fieldkit::app {
namespace {

constexpr std::chrono::milliseconds kSignalLookInterval{100};
// Before the erase a run reaches its next safe point within a board call and a pause.
constexpr std::chrono::milliseconds kSafePointWait{5000};

// Nobody may be left to answer an open box: it is closed as its No (or its OK).
void closeOpenBox()
{
    if (auto* box = qobject_cast<QDialog*>(QApplication::activeModalWidget()))
        box->reject();
}

#if QT_CONFIG(sessionmanager)
class SessionManagerRequest final : public SessionEndRequest {
public:
    explicit SessionManagerRequest(QSessionManager& manager) : manager_(manager) {}
    ~SessionManagerRequest() override
    {
        if (interacting_)
            manager_.release();
    }
    SessionManagerRequest(const SessionManagerRequest&) = delete;
    SessionManagerRequest& operator=(const SessionManagerRequest&) = delete;

    bool allowsInteraction() override
    {
        interacting_ = manager_.allowsInteraction();
        return interacting_;
    }
    void cancel() override { manager_.cancel(); }

private:
    QSessionManager& manager_;
    bool interacting_ = false;
};
#endif

} // namespace

ProgramEnding::ProgramEnding(CMainFrame& frame, SignalSource pendingSignal, Quit quit)
    : ProgramEnding(Runs{frame, [&frame] { return frame.IsBusy(); }, [&frame] { return frame.IsPastErase(); },
                         [&frame] { frame.StopBeforeErase(); }, IDS_QUIT_WHILE_FLASHING},
                    std::move(pendingSignal), std::move(quit))
{
    connect(&frame, &CMainFrame::busyChanged, this, &ProgramEnding::busyChanged);
    connect(&frame, &CMainFrame::upgradeEnded, this, [this](flash::RunResult result, UpgradeStage stage) {
        std::vector<std::string> afterStop;
        if (result == flash::RunResult::Interrupted)
            afterStop.push_back(session::afterStopText(stage));
        runsEnded(std::span(&result, 1), afterStop);
    });
}

ProgramEnding::ProgramEnding(BenchWindow& bench, SignalSource pendingSignal, Quit quit)
    : ProgramEnding(Runs{bench, [&bench] { return bench.IsRunning(); }, [&bench] { return bench.IsPastErase(); },
                         [&bench] { bench.StopBeforeErase(); }, IDS_BENCH_QUIT_WHILE_FLASHING},
                    std::move(pendingSignal), std::move(quit))
{
    connect(&bench, &BenchWindow::runningChanged, this, &ProgramEnding::busyChanged);
    connect(&bench, &BenchWindow::benchEnded, this, [this](const session::BenchOutcome& outcome) {
        runsEnded(outcome.results(), session::whereBoardsStand(outcome));
    });
}

ProgramEnding::ProgramEnding(Runs runs, SignalSource pendingSignal, Quit quit)
    : runs_(std::move(runs)), pendingSignal_(std::move(pendingSignal)), quit_(std::move(quit))
{
    if (!quit_)
        quit_ = [](int status) { QCoreApplication::exit(status); };
    connect(&watch_, &QTimer::timeout, this, &ProgramEnding::lookForSignal);
    watch_.start(kSignalLookInterval);
#if QT_CONFIG(sessionmanager)
    // On Windows the shell's hold on the session (windows_shell_win.cpp) answers first while
    // an upgrade runs.
    if (auto* application = qobject_cast<QGuiApplication*>(QCoreApplication::instance()))
        connect(
            application, &QGuiApplication::commitDataRequest, this,
            [this](QSessionManager& manager) {
                SessionManagerRequest request(manager);
                onSessionEnding(request);
            },
            Qt::DirectConnection);
#endif
}

void ProgramEnding::lookForSignal()
{
    const session::StopSignal signal = pendingSignal_();
    if (signal == session::StopSignal::None)
        return;
    if (!ending_) {
        ending_ = true;
        if (!runs_.busy()) {
            end(session::exitStatusFor(signal));
            return;
        }
        runs_.stopBeforeErase();
    }
    closeOpenBox();
}

void ProgramEnding::busyChanged(bool busy)
{
    if (!busy && waitingForIdle_ != nullptr)
        waitingForIdle_->quit();
}

void ProgramEnding::runsEnded(std::span<const flash::RunResult> results, const std::vector<std::string>& afterStop)
{
    if (!ending_)
        return;
    for (const std::string& text : afterStop)
        std::fprintf(stderr, "fieldkit: %s\n", text.c_str());
    end(session::exitStatusFor(results, pendingSignal_()));
}

void ProgramEnding::end(int status)
{
    watch_.stop();
    quit_(status);
}

void ProgramEnding::onSessionEnding(SessionEndRequest& request)
{
    if (!runs_.busy())
        return;
    if (!runs_.pastErase()) {
        // Nothing is written yet: the runs end at their next safe point and are recorded
        // "interrupted" before the session lets the program go.
        runs_.stopBeforeErase();
        closeOpenBox();
        QEventLoop waiting;
        waitingForIdle_ = &waiting;
        QTimer::singleShot(kSafePointWait, &waiting, &QEventLoop::quit);
        waiting.exec();
        waitingForIdle_ = nullptr;
        return;
    }
    // The board holds no whole firmware until the run has ended.
    if (request.allowsInteraction() && questionBox(&runs_.window, runs_.quitQuestion) == Answer::Yes)
        return;
    request.cancel();
}

} // namespace fieldkit::app
