#pragma once

// Ctrl+C and termination requests on a terminal. The first one asks the run to stop at its
// next safe point, so the port is closed and the user is told where the board stands; a
// second one ends the program at once.

#include "core/stop.h"

#include <atomic>
#include <thread>

namespace fieldkit::cli {

enum class InterruptSignal { None, Interrupt, Terminate }; // Ctrl+C / SIGINT, SIGTERM

// The platform's handlers (one file per platform holds them).
void installInterruptHandlers();
// What arrived, None when nothing did.
InterruptSignal pendingInterrupt();
// 130 for Interrupt, 143 for Terminate, as shells report a program ended by the signal.
int exitStatusFor(InterruptSignal signal);

// Passes an interrupt on to a run's stop request while it lives. Signal handlers may do
// next to nothing, so a small thread looks for the interrupt instead.
class InterruptWatch {
public:
    explicit InterruptWatch(UpgradeStop& stop);
    ~InterruptWatch();
    InterruptWatch(const InterruptWatch&) = delete;
    InterruptWatch& operator=(const InterruptWatch&) = delete;

private:
    UpgradeStop& stop_;
    UpgradeStop finished_;
    std::thread watcher_;
};

} // namespace fieldkit::cli
