#include "app/program_ending.h"

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
    : frame_(frame), pendingSignal_(std::move(pendingSignal)), quit_(std::move(quit))
{
    if (!quit_)
        quit_ = [](int status) { QCoreApplication::exit(status); };
    connect(&frame_, &CMainFrame::upgradeEnded, this, &ProgramEnding::upgradeEnded);
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
        if (!frame_.IsBusy()) {
            end(session::exitStatusFor(signal));
            return;
        }
        frame_.StopBeforeErase();
    }
    closeOpenBox();
}

void ProgramEnding::upgradeEnded(flash::RunResult result, UpgradeStage stage)
{
    if (!ending_)
        return;
    if (result == flash::RunResult::Interrupted)
        std::fprintf(stderr, "fieldkit: %s\n", session::afterStopText(stage).c_str());
    end(session::exitStatusFor(result, pendingSignal_()));
}

void ProgramEnding::end(int status)
{
    watch_.stop();
    quit_(status);
}

void ProgramEnding::onSessionEnding(SessionEndRequest& request)
{
    if (!frame_.IsBusy())
        return;
    if (!frame_.IsPastErase()) {
        // Nothing is written yet: the run ends at its next safe point and is recorded
        // "interrupted" before the session lets the program go.
        frame_.StopBeforeErase();
        closeOpenBox();
        QEventLoop waiting;
        connect(&frame_, &CMainFrame::busyChanged, &waiting, [&waiting](bool busy) {
            if (!busy)
                waiting.quit();
        });
        QTimer::singleShot(kSafePointWait, &waiting, &QEventLoop::quit);
        waiting.exec();
        return;
    }
    // The board holds no whole firmware until the run has ended.
    if (request.allowsInteraction() && questionBox(&frame_, IDS_QUIT_WHILE_FLASHING) == Answer::Yes)
        return;
    request.cancel();
}

} // namespace fieldkit::app
