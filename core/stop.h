#pragma once

// Asking a run to stop from another thread: the desktop program when the user quits or a
// signal comes, the command line on Ctrl+C. The run looks at the request at its safe points;
// pauses end early.

#include "core/causes.h"
#include "core/clock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace fieldkit {

class UpgradeStop {
public:
    void request();
    bool requested() const { return requested_.load(); }

    // A stop nobody asked for (the terminal hung up): it holds only for a run that has not
    // yet erased the board. A run past the erase goes on to the end, since a finished board
    // is whole; its pauses are not cut short either.
    void requestBeforeErase() { requestedBeforeErase_ = true; }
    // Whether a run that has reached `stage` must end at this safe point.
    bool requestedAt(UpgradeStage stage) const
    {
        return requested() || (requestedBeforeErase_.load() && !boardChangedFrom(stage));
    }
    // Whether either kind of stop was requested: nobody is left to answer a question then.
    bool anyRequested() const { return requested() || requestedBeforeErase_.load(); }
    // Waits for `duration`, or less when a stop is requested meanwhile.
    void waitFor(std::chrono::milliseconds duration);

private:
    std::atomic<bool> requested_{false};
    std::atomic<bool> requestedBeforeErase_{false};
    std::mutex mutex_;
    std::condition_variable wakeUp_;
};

// Real time whose pauses end early on a stop, or an injected clock (tests) used as it is.
class StoppableClock final : public Clock {
public:
    StoppableClock(Clock* injected, UpgradeStop& stop) : injected_(injected), stop_(stop) {}

    std::uint32_t tickMs() override;
    void sleep(std::chrono::milliseconds duration) override;

private:
    Clock* injected_;
    SystemClock realTime_;
    UpgradeStop& stop_;
};

} // namespace fieldkit
