// Ctrl+C on a Windows console. Windows has no signals: the console calls a handler on a thread
// of its own for Ctrl+C, Ctrl+Break and the closing of the console window.

#include "cli/interrupt.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace fieldkit::cli {
namespace {

std::atomic<InterruptSignal> pending{InterruptSignal::None};

BOOL WINAPI onConsoleEvent(DWORD event)
{
    InterruptSignal signal = InterruptSignal::None;
    switch (event) {
    case CTRL_C_EVENT:
        signal = InterruptSignal::Interrupt;
        break;
    case CTRL_BREAK_EVENT:
    case CTRL_CLOSE_EVENT:
        signal = InterruptSignal::Terminate;
        break;
    default:
        return FALSE; // log-off and shut-down: the default handling
    }
    InterruptSignal none = InterruptSignal::None;
    if (!pending.compare_exchange_strong(none, signal))
        std::_Exit(exitStatusFor(signal)); // the second one ends the program at once
    return TRUE; // the upgrade stops at its next safe point
}

} // namespace

void installInterruptHandlers() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

InterruptSignal pendingInterrupt() { return pending.load(); }

} // namespace fieldkit::cli
