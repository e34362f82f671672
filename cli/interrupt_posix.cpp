// SIGINT and SIGTERM on Linux.

#include "cli/interrupt.h"

#include <csignal>

#include <unistd.h>

namespace fieldkit::cli {

namespace {

volatile std::sig_atomic_t arrived = 0; // the signal number of the first one

void onSignal(int signalNumber)
{
    if (arrived != 0) {
        const InterruptSignal first = arrived == SIGTERM ? InterruptSignal::Terminate : InterruptSignal::Interrupt;
        ::_exit(exitStatusFor(first));
    }
    arrived = signalNumber;
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
    switch (arrived) {
    case 0: return InterruptSignal::None;
    case SIGTERM: return InterruptSignal::Terminate;
    default: return InterruptSignal::Interrupt;
    }
}

} // namespace fieldkit::cli
