#include "app/main_frame.h"

// The upgrade on a thread of its own: its notices and boxes handed to the window's thread,
// and the window's side of its ending.

#include "app/message_boxes.h"
#include "app/resource.h"
#include "app/thread_handoff.h"
#include "app/tsan_marks.h"
#include "app/upgrade_doc.h"
#include "app/upgrade_history.h"
#include "app/upgrade_view.h"
#include "app/window_prompts.h"
#include "core/progress_text.h"
#include "core/stop.h"
#include "history/history_record.h"

#include <QDeadlineTimer>
#include <QProgressBar>
#include <QPushButton>
#include <QStatusBar>
#include <QThread>

#include <chrono>
#include <optional>
#include <utility>

namespace fieldkit::app {
namespace {

// How often the closing window looks again whether the upgrade thread has gone.
constexpr std::chrono::milliseconds kWorkerPollInterval{10};
constexpr int kProgressStep = 1;

} // namespace

// The run's view on the upgrade thread. Its boxes are shown by the window's thread while the
// upgrade waits; the hints are made here, on the thread that owns the link they read. Its
// progress is queued to the window's thread in the order it comes, each event with its own
// copy of what it carries.
class CMainFrame::WorkerView final : public HintedView {
public:
    WorkerView(CMainFrame& frame, UpgradeStop& stop) : frame_(frame), stop_(stop) {}

    void error(FailureKind kind, const std::string& text) override { ask(BoxKind::Error, hinted(kind, text)); }
    Answer question(QuestionKind kind, const std::string& text) override
    {
        return ask(BoxKind::Question, hinted(kind, text));
    }
    void warning(WarningKind kind, const std::string& text) override { ask(BoxKind::Warning, hinted(kind, text)); }

    bool showsProgress() const override { return !stop_.requested(); }
    void progress(const session::ProgressEvent& event) override
    {
        if (!showsProgress())
            return;
        // The outcome waits until the run is recorded in the history.
        if (const auto* finished = std::get_if<session::RunFinished>(&event)) {
            finished_ = *finished;
            return;
        }
        CMainFrame* frame = &frame_;
        if (const auto* step = std::get_if<session::StepEntered>(&event); step && boardChangedFrom(step->stage))
            frame_.m_workerJobs->post([frame] { frame->m_bPastErase = true; });
        frame_.m_workerJobs->post([frame, event] { frame->OnUpgradeMessage(event); });
    }

    // Shows the outcome, then the slow adapter's hint and the history's warning when the
    // record could not be written.
    void deliverOutcome(const session::Outcome& outcome, const std::string& historyWarning)
    {
        if (!finished_ || !showsProgress())
            return;
        CMainFrame* frame = &frame_;
        const std::string adapterHint =
            outcome.result == flash::RunResult::Success ? outcome.adapterHint : std::string();
        frame_.m_workerJobs->post([frame, finished = *finished_, adapterHint, historyWarning, ended = outcome.result,
                                   stage = outcome.report.stage] {
            frame->m_bShowingOutcome = true;
            frame->OnUpgradeMessage(finished);
            for (const std::string& text : {adapterHint, historyWarning})
                if (!text.empty())
                    frame->ShowWorkerBox(BoxKind::Warning, text);
            frame->m_bShowingOutcome = false;
            emit frame->upgradeEnded(ended, stage);
            if (!frame->m_shopWarningAfterOutcome.empty())
                frame->ShowWorkerBox(BoxKind::Warning, std::exchange(frame->m_shopWarningAfterOutcome, {}));
        });
    }

private:
    Answer ask(BoxKind kind, const std::string& text)
    {
        CMainFrame* frame = &frame_;
        return frame_.m_workerJobs->call<Answer>([frame, kind, &text] { return frame->ShowWorkerBox(kind, text); },
                                                 Answer::No);
    }

    CMainFrame& frame_;
    UpgradeStop& stop_;
    std::optional<session::RunFinished> finished_;
};

void CMainFrame::StartUpgrade()
{
    if (m_bBusy || m_bQuitting)
        return;
    CUpgradeView* view = GetActiveView();
    // The previous run's thread has posted its last notice and is on its way out.
    if (m_worker)
        WaitForWorker(QDeadlineTimer(QDeadlineTimer::Forever));
    SetBusy(true);
    m_bPastErase = false;
    view->m_btnUpgrade->setEnabled(false);
    m_stop = std::make_unique<UpgradeStop>();
    session::UpgradePlan plan;
    plan.place = session::placeFor(m_nPort, m_services.settingsFile, m_services.emulatedBoard);
    plan.settingsVersion = m_szFirmwareVersion;
    plan.firmwareDirectory = m_services.firmwareDirectory;
    m_worker.reset(QThread::create([this, stop = m_stop.get(), plan] {
        RunUpgradeThread(*stop, plan);
        // The thread's end is its last hand-over to the window's thread. (Not marked on the
        // stop flag: a later store to that atomic would replace the mark.)
        markReleased(m_workerJobs);
    }));
    m_worker->start();
}

void CMainFrame::StopBeforeErase()
{
    if (m_bBusy)
        m_stop->requestBeforeErase();
}

void CMainFrame::RunUpgradeThread(UpgradeStop& stop, const session::UpgradePlan& plan)
{
    WorkerView view(*this, stop);
    const session::Outcome outcome = session::runUpgrade(plan, {sessionLinks(), view, stop, m_services.clock, {}});
    view.deliverOutcome(outcome, historyWarning(history::kUpgradeCommand, outcome.recorded));
    // Asked to stop or to end: the records wait for the next run, as on the command line.
    if (!view.showsProgress())
        return;
    if (const std::string warning = shopWarning(); !warning.empty())
        m_workerJobs->post([this, warning] { ShowShopWarning(warning); });
}

void CMainFrame::ShowShopWarning(const std::string& warning)
{
    // A box of the outcome is open, and this job runs in its event loop.
    if (m_bShowingOutcome)
        m_shopWarningAfterOutcome = warning;
    else
        ShowWorkerBox(BoxKind::Warning, warning);
}

session::LinkFactory CMainFrame::sessionLinks() const
{
    return [makeLink = m_services.makeLink](Clock&) { return makeLink(); };
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

void CMainFrame::OnUpgradeMessage(const session::ProgressEvent& notice)
{
    if (m_bQuitting)
        return;
    CUpgradeView* view = GetActiveView();
    CUpgradeDoc* document = GetActiveDocument();
    const auto showStatus = [this](const std::string& text) { m_wndStatusBar->showMessage(QString::fromStdString(text)); };
    std::visit(session::EventHandlers{
                   [&](const session::PageWritten&) {
                       QProgressBar* progress = view->m_progress;
                       progress->setValue(progress->value() + kProgressStep);
                       if (const auto title = progressTitle(progress->value(), progress->maximum()))
                           document->SetTitle(QString::fromStdString(*title));
                   },
                   [&](const session::RunFinished& finished) {
                       view->m_btnUpgrade->setEnabled(true);
                       SetBusy(false);
                       if (finished.succeeded) {
                           plainBox(this, IDS_DONE_CAPTION, IDS_FLASHING_DONE);
                           showNormal();
                       }
                       view->m_progress->setValue(0);
                       document->SetTitle(QString::fromLatin1(IDS_DOCUMENT_TITLE));
                   },
                   [&](const session::StepEntered& step) { showStatus(step.text); },
                   [&](const session::FinalText& final) { showStatus(final.text); },
                   [&](const session::ProgressBegun& begun) {
                       view->m_progress->setRange(0, static_cast<int>(begun.pageCount));
                       view->m_progress->setValue(0);
                   },
                   [](const session::BoardIdentified&) {}},
               notice);
}

} // namespace fieldkit::app
