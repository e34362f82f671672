// The console's events on Windows. Windows has no signals: the console calls a handler on a
// thread of its own for Ctrl+C, Ctrl+Break, the closing of the console window, logging off and
// shutting down.

#include "session/pending_records.h"
#include "session/stop_signals.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

namespace fieldkit::session {
namespace {

// Windows ends the program about five seconds after a close, log-off or shut-down event,
// whatever the handler does; this leaves the run time to stop and write its record first.
constexpr std::chrono::milliseconds kRecordWait{4500};

std::atomic<StopSignal> pending{StopSignal::None};

BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: {
        const StopSignal signal = event == CTRL_C_EVENT ? StopSignal::Interrupt : StopSignal::Terminate;
        StopSignal none = StopSignal::None;
        if (!pending.compare_exchange_strong(none, signal))
            std::_Exit(exitStatusFor(none)); // the second one ends the program at once
        return TRUE; // the run stops at its next safe point
    }
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
        // The program ends when this returns, or when Windows stops waiting: stop the run and
        // let it write its record ("interrupted", with the step it reached) before that.
        StopSignal none = StopSignal::None;
        pending.compare_exchange_strong(none, StopSignal::Terminate);
        waitForPendingRecords(kRecordWait);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

} // namespace

void catchStopSignals() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

StopSignal pendingStopSignal() { return pending.load(); }

// A Windows console does not hang up: a closed one ends the program (see above).
bool terminalHungUp() { return false; }

} // namespace fieldkit::session
