// SIGINT and SIGTERM on Linux.

#include "cli/interrupt.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace fieldkit::cli {

namespace {

// The signal number of the first one. Lock-free, so the handler may store it while the
// watch thread of a run reads it.
std::atomic<int> arrived{0};
static_assert(std::atomic<int>::is_always_lock_free);

void onSignal(int signalNumber)
{
    const int interruptedErrno = errno; // of the call the signal cut short
    if (const int first = arrived.load(); first != 0)
        ::_exit(exitStatusFor(first == SIGTERM ? InterruptSignal::Terminate : InterruptSignal::Interrupt));
    arrived.store(signalNumber);
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
}

InterruptSignal pendingInterrupt()
{
    switch (arrived.load()) {
    case 0: return InterruptSignal::None;
    case SIGTERM: return InterruptSignal::Terminate;
    default: return InterruptSignal::Interrupt;
    }
}

} // namespace fieldkit::cli
