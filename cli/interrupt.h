#pragma once

// Ctrl+C, termination requests and hang-ups on a terminal. The first Ctrl+C or termination
// request asks the run to stop at its next safe point, so the port is closed and the user is
// told where the board stands; a second one ends the program at once. A hang-up (the terminal
// closed, an SSH session dropped) stops a run only before the erase: nobody asked to stop,
// and a board that was erased is whole again only once the run has finished.

#include "core/stop.h"

#include <atomic>
#include <thread>

namespace fieldkit::cli {

// Ctrl+C / SIGINT, SIGTERM (and a Windows console that closes), SIGHUP
enum class InterruptSignal { None, Interrupt, Terminate, HangUp };

// The platform's handlers (one file per platform holds them). On Linux a closed pipe no
// longer ends the program: what can no longer be written is dropped, the run goes on.
void installInterruptHandlers();
// What arrived: a Ctrl+C or termination request before a hang-up; None when nothing did.
InterruptSignal pendingInterrupt();
// 130 for Interrupt, 143 for Terminate, 129 for HangUp, as shells report a program ended by
// the signal.
int exitStatusFor(InterruptSignal signal);
// Whether the terminal hung up: questions are then answered No, as at the end of input.
bool terminalHungUp();

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

// Lives while a run may still have to be recorded. A Windows console that is closed, or a
// session that logs off or shuts down, ends the program a few seconds after telling it; the
// handler asks the run to stop and waits for this to end before it lets the program go.
// Elsewhere it does nothing.
class RecordPending {
public:
    RecordPending();
    ~RecordPending();
    RecordPending(const RecordPending&) = delete;
    RecordPending& operator=(const RecordPending&) = delete;
};

} // namespace fieldkit::cli
