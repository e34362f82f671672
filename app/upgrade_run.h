#pragma once

// What one upgrade thread talks through in the desktop program. When the user quits during
// an upgrade, the thread must let go of the serial port and end promptly without touching
// the window again: an UpgradeStop, once requested, makes every further board call fail at
// once (so the upgrade takes its ordinary failure path, which closes the port), cuts pauses
// short, silences the boxes and drops the notices.

#include "core/clock.h"
#include "link/board_link.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

namespace fieldkit::app {

class UpgradeStop {
public:
    void request();
    bool requested() const { return requested_.load(); }
    // Waits for `duration`, or less when a stop is requested meanwhile.
    void waitFor(std::chrono::milliseconds duration);

private:
    std::atomic<bool> requested_{false};
    std::mutex mutex_;
    std::condition_variable wakeUp_;
};

// The board link as the upgrade thread sees it: the real one until a stop is requested,
// then a line that refuses everything but closing the port.
class StoppableBoardLink final : public link::BoardLink {
public:
    // What a call returns once the upgrade is being stopped.
    static constexpr int kStopped = -1;

    StoppableBoardLink(link::BoardLink& link, UpgradeStop& stop) : link_(link), stop_(stop) {}

    int BriskDllInit(const char* radioModel, const char* modelNumber, int largestRead, int boardAddress) override;
    int ReadTimers(link::LinkTimers& timers) override;
    int ConfigureTimers(const link::LinkTimers& timers) override;
    int OpenPort(int port) override;
    void ClosePort() override;
    int Ping_Opt_Board(int port, std::uint8_t* reply) override;
    int ReadDataOnly(int port, std::uint8_t* destination, std::uint32_t address, std::uint32_t count) override;
    int WriteDataOnly(int port, const std::uint8_t* source, std::uint32_t address, std::uint32_t count,
                      int flags) override;

private:
    link::BoardLink& link_;
    UpgradeStop& stop_;
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

} // namespace fieldkit::app
