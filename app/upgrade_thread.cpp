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
#include "core/upgrade_notices.h"
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

// Boxes the upgrade thread raises, shown by the window's thread while the upgrade waits. The
// hints are made here, on the thread that owns the link they read.
class CMainFrame::WorkerPrompts final : public Prompts {
public:
    explicit WorkerPrompts(CMainFrame& frame) : frame_(frame) {}

    void setHints(HintSource hints) override { hints_ = std::move(hints); }
    void error(FailureKind kind, const std::string& text) override { ask(BoxKind::Error, hinted(kind, text)); }
    Answer question(QuestionKind kind, const std::string& text) override
    {
        return ask(BoxKind::Question, hinted(kind, text));
    }
    void warning(WarningKind kind, const std::string& text) override { ask(BoxKind::Warning, hinted(kind, text)); }

private:
    std::string hinted(const Cause& cause, const std::string& text) const
    {
        return hints_ ? withHint(text, hints_(cause)) : text;
    }

    Answer ask(BoxKind kind, const std::string& text)
    {
        CMainFrame* frame = &frame_;
        return frame_.m_workerJobs->call<Answer>([frame, kind, &text] { return frame->ShowWorkerBox(kind, text); },
                                                 Answer::No);
    }

    CMainFrame& frame_;
    HintSource hints_;
};

// Upgrade notices queued to the window's thread in the order they are issued. The final
// text lives on the upgrade thread, so it is delivered with a call that waits until the
// window has shown it.
class CMainFrame::WorkerNotices final : public UpgradeNotices {
public:
    WorkerNotices(CMainFrame& frame, UpgradeStop& stop) : frame_(frame), stop_(stop) {}

    bool hasWindow() const override { return !stop_.requested(); }
    void statusText(UpgradeStage stage, const char* constantText) override
    {
        if (boardChangedFrom(stage) && hasWindow())
            frame_.m_workerJobs->post([frame = &frame_] { frame->m_bPastErase = true; });
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

    // Shows the outcome, then the slow adapter's hint and the history's warning when the
    // record could not be written.
    void deliverOutcome(const session::Outcome& outcome, const std::string& historyWarning)
    {
        if (!result_ || !hasWindow())
            return;
        CMainFrame* frame = &frame_;
        const std::string adapterHint =
            outcome.result == flash::RunResult::Success ? outcome.adapterHint : std::string();
        frame_.m_workerJobs->post([frame, result = *result_, adapterHint, historyWarning, ended = outcome.result,
                                   stage = outcome.report.stage] {
            frame->m_bShowingOutcome = true;
            frame->OnUpgradeMessage(UPG_FINISHED, result);
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
    plan.place = runPlace(m_nPort, m_services);
    plan.settingsVersion = m_szFirmwareVersion;
    plan.frame = this;
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
    WorkerPrompts prompts(*this);
    WorkerNotices notices(*this, stop);
    const session::Outcome outcome =
        session::runUpgrade(plan, {sessionLinks(), prompts, stop, &notices, m_services.clock, {}, nullptr});
    notices.deliverOutcome(outcome, historyWarning(history::kUpgradeCommand, outcome.recorded));
    if (const std::string warning = shopWarning(); !warning.empty() && notices.hasWindow())
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

} // namespace fieldkit::app
