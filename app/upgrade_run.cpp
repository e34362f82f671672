#include "app/upgrade_run.h"

namespace fieldkit::app {

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

int StoppableBoardLink::BriskDllInit(const char* radioModel, const char* modelNumber, int largestRead,
                                     int boardAddress)
{
    return stop_.requested() ? kStopped : link_.BriskDllInit(radioModel, modelNumber, largestRead, boardAddress);
}

int StoppableBoardLink::ReadTimers(link::LinkTimers& timers)
{
    return stop_.requested() ? kStopped : link_.ReadTimers(timers);
}

int StoppableBoardLink::ConfigureTimers(const link::LinkTimers& timers)
{
    return stop_.requested() ? kStopped : link_.ConfigureTimers(timers);
}

int StoppableBoardLink::OpenPort(int port)
{
    return stop_.requested() ? kStopped : link_.OpenPort(port);
}

void StoppableBoardLink::ClosePort()
{
    link_.ClosePort();
}

int StoppableBoardLink::Ping_Opt_Board(int port, std::uint8_t* reply)
{
    return stop_.requested() ? kStopped : link_.Ping_Opt_Board(port, reply);
}

int StoppableBoardLink::ReadDataOnly(int port, std::uint8_t* destination, std::uint32_t address,
                                     std::uint32_t count)
{
    return stop_.requested() ? kStopped : link_.ReadDataOnly(port, destination, address, count);
}

int StoppableBoardLink::WriteDataOnly(int port, const std::uint8_t* source, std::uint32_t address,
                                      std::uint32_t count, int flags)
{
    return stop_.requested() ? kStopped : link_.WriteDataOnly(port, source, address, count, flags);
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

} // namespace fieldkit::app
