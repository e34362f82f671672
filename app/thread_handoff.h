#pragma once

// Work handed from the upgrade thread to the window's thread. It travels in an event that is
// built whole before it is posted, so the hand-over is one point that ThreadSanitizer can be
// told about (tsan_marks.h).

#include <QObject>

#include <functional>
#include <future>

namespace fieldkit::app {

// Lives on the window's thread and runs the jobs posted to it there, in the order posted.
class WindowThreadJobs final : public QObject {
public:
    using QObject::QObject;

    // Runs `job` on this object's thread as soon as its event loop gets to it; from any thread.
    void post(std::function<void()> job);

    // Runs `job` there and waits for its result; `ifNeverRun` when the jobs are destroyed
    // before they get to it (the program is ending).
    template <typename Result>
    Result call(std::function<Result()> job, Result ifNeverRun)
    {
        auto result = std::make_shared<std::promise<Result>>();
        std::future<Result> done = result->get_future();
        post([job = std::move(job), result] { result->set_value(job()); });
        try {
            return done.get();
        } catch (const std::future_error&) {
            return ifNeverRun;
        }
    }

    // Runs the jobs posted so far right now; for a window thread that waits for the poster.
    void runPosted();

protected:
    bool event(QEvent* event) override;
};

} // namespace fieldkit::app
