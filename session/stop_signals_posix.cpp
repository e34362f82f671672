// The signals that would end the program on Linux.

#include "session/stop_signals.h"

#include <atomic>
#include <cerrno>
#include <csignal>

#include <unistd.h>

namespace fieldkit::session {
namespace {

// Lock-free, so a handler may store them while the program's threads read.
std::atomic<int> firstSignal{0}; // the number of the first request to end the program
std::atomic<bool> hungUp{false};
static_assert(std::atomic<int>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM};

StopSignal stopSignalOf(int signalNumber)
{
    switch (signalNumber) {
    case 0: return StopSignal::None;
    case SIGHUP: return StopSignal::HangUp;
    case SIGINT: return StopSignal::Interrupt;
    case SIGQUIT: return StopSignal::Quit;
    case SIGUSR1: return StopSignal::User1;
    case SIGUSR2: return StopSignal::User2;
    case SIGALRM: return StopSignal::Alarm;
    default: return StopSignal::Terminate;
    }
}

void onSignal(int signalNumber)
{
    const int interruptedErrno = errno; // of the call the signal cut short
    if (signalNumber == SIGHUP) {
        hungUp.store(true);
    } else if (int first = 0; !firstSignal.compare_exchange_strong(first, signalNumber)) {
        ::_exit(exitStatusFor(stopSignalOf(first)));
    }
    errno = interruptedErrno;
}

void catchUnlessIgnored(int signalNumber, const struct sigaction& action)
{
    struct sigaction inherited {};
    if (sigaction(signalNumber, nullptr, &inherited) == 0 && inherited.sa_handler == SIG_IGN)
        return;
    sigaction(signalNumber, &action, nullptr);
}

} // namespace

void catchStopSignals()
{
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    // No SA_RESTART: a question waiting for its answer line returns at once.
    action.sa_flags = 0;
    catchUnlessIgnored(SIGHUP, action);
    for (const int signalNumber : kEndingSignals)
        catchUnlessIgnored(signalNumber, action);
    // Output must never decide a board's fate: a reader that went away (`| head`) makes the
    // writes fail instead, and the streams drop what they can no longer write.
    std::signal(SIGPIPE, SIG_IGN);
}

StopSignal pendingStopSignal()
{
    if (const int first = firstSignal.load(); first != 0)
        return stopSignalOf(first);
    return hungUp.load() ? StopSignal::HangUp : StopSignal::None;
}

bool terminalHungUp() { return hungUp.load(); }

} // namespace fieldkit::session
