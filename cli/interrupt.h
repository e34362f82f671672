#pragma once

// Ctrl+C, termination requests and hang-ups on a terminal, as session/stop_signals.h catches
// them. The first request to end (Ctrl+C, SIGTERM, SIGQUIT, ...) asks the run to stop at its
// next safe point, so the port is closed and the user is told where the board stands; a second
// one ends the program at once. A hang-up (the terminal closed, an SSH session dropped) stops a
// run only before the erase: nobody asked to stop, and a board that was erased is whole again
// only once the run has finished.

#include "core/stop.h"
#include "session/stop_signals.h"

#include <thread>

namespace fieldkit::cli {

using session::terminalHungUp;

// Passes a request to end on to a run's stop while it lives. Signal handlers may do next to
// nothing, so a small thread looks for the request instead.
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
