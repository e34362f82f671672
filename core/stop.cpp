#include "core/stop.h"

namespace fieldkit {

void UpgradeStop::request()
{
    {
        const std::lock_guard lock(mutex_);
        requested_ = true;
    }
    wakeUp_.notify_all();
}

void UpgradeStop::waitFor(std::chrono::milliseconds duration)
{
    std::unique_lock lock(mutex_);
    wakeUp_.wait_for(lock, duration, [this] { return requested_.load(); });
}

std::uint32_t StoppableClock::tickMs()
{
    return injected_ != nullptr ? injected_->tickMs() : realTime_.tickMs();
}

void StoppableClock::sleep(std::chrono::milliseconds duration)
{
    if (stop_.requested())
        return;
    if (injected_ != nullptr)
        injected_->sleep(duration);
    else
        stop_.waitFor(duration);
}

} // namespace fieldkit
