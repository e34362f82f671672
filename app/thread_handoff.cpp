#include "app/thread_handoff.h"

#include "app/tsan_marks.h"

#include <QCoreApplication>
#include <QEvent>

namespace fieldkit::app {
namespace {

const QEvent::Type kJobEvent = static_cast<QEvent::Type>(QEvent::registerEventType());

class JobEvent final : public QEvent {
public:
    explicit JobEvent(std::function<void()> job) : QEvent(kJobEvent), job_(std::move(job)) {}

    void run() { job_(); }

private:
    std::function<void()> job_;
};

} // namespace

void WindowThreadJobs::post(std::function<void()> job)
{
    auto* event = new JobEvent(std::move(job));
    // Everything the posting thread did before it posted the event is visible to the thread
    // that runs it: Qt's queue guarantees it, and the marks tell ThreadSanitizer.
    markReleased(this);
    QCoreApplication::postEvent(this, event);
}

void WindowThreadJobs::runPosted()
{
    QCoreApplication::sendPostedEvents(this, kJobEvent);
}

bool WindowThreadJobs::event(QEvent* event)
{
    markAcquired(this);
    if (event->type() != kJobEvent)
        return QObject::event(event);
    static_cast<JobEvent*>(event)->run();
    return true;
}

} // namespace fieldkit::app
