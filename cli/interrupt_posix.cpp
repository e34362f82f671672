// SIGINT, SIGTERM, SIGHUP and SIGPIPE on Linux.

#include "cli/interrupt.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace fieldkit::cli {

namespace {

// The signal number of the first Ctrl+C or termination request, and whether the terminal
// hung up. Lock-free, so the handler may store them while the watch thread of a run reads.
std::atomic<int> arrived{0};
std::atomic<bool> hungUp{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

void onSignal(int signalNumber)
{
    const int interruptedErrno = errno; // of the call the signal cut short
    if (signalNumber == SIGHUP) {
        // Never fatal, however often it comes: a shell passes its own hang-up on to its jobs
        // beside the terminal's, and a run past the erase must be let finish.
        hungUp.store(true);
    } else if (const int first = arrived.load(); first != 0) {
        ::_exit(exitStatusFor(first == SIGTERM ? InterruptSignal::Terminate : InterruptSignal::Interrupt));
    } else {
        arrived.store(signalNumber);
    }
    errno = interruptedErrno;
}

} // namespace

void installInterruptHandlers()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a question waiting for its answer line returns at once.
    action.sa_flags = 0;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGHUP, &action, nullptr);
    // Output must never decide a board's fate: a reader that went away (`| head`) makes the
    // writes fail instead, and the streams drop what they can no longer write.
    std::signal(SIGPIPE, SIG_IGN);
}

InterruptSignal pendingInterrupt()
{
    switch (arrived.load()) {
    case 0: return hungUp.load() ? InterruptSignal::HangUp : InterruptSignal::None;
    case SIGTERM: return InterruptSignal::Terminate;
    default: return InterruptSignal::Interrupt;
    }
}

bool terminalHungUp() { return hungUp.load(); }

RecordPending::RecordPending() = default;
RecordPending::~RecordPending() = default;

} // namespace fieldkit::cli
