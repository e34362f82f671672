// Ctrl+C on a Windows console. Windows has no signals: the console calls a handler on a thread
// of its own for Ctrl+C, Ctrl+Break, the closing of the console window, logging off and
// shutting down.

#include "cli/interrupt.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <mutex>

namespace fieldkit::cli {
namespace {

// Windows ends the program about five seconds after a close, log-off or shut-down event,
// whatever the handler does; this leaves the run time to stop and write its record first.
constexpr DWORD kRecordWaitMs = 4500;

std::atomic<InterruptSignal> pending{InterruptSignal::None};

// How many runs are still to be recorded, and an event set while there are none.
std::mutex recordsLock;
int recordsPending = 0;
HANDLE noRecordPending = ::CreateEventW(nullptr, TRUE, TRUE, nullptr);

BOOL WINAPI onConsoleEvent(DWORD event)
{
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: {
        const InterruptSignal signal = event == CTRL_C_EVENT ? InterruptSignal::Interrupt : InterruptSignal::Terminate;
        InterruptSignal none = InterruptSignal::None;
        if (!pending.compare_exchange_strong(none, signal))
            std::_Exit(exitStatusFor(signal)); // the second one ends the program at once
        return TRUE; // the upgrade stops at its next safe point
    }
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT: {
        // The program ends when this returns, or when Windows stops waiting: stop the run and
        // let it write its record ("interrupted", with the step it reached) before that.
        InterruptSignal none = InterruptSignal::None;
        pending.compare_exchange_strong(none, InterruptSignal::Terminate);
        ::WaitForSingleObject(noRecordPending, kRecordWaitMs);
        return TRUE;
    }
    default:
        return FALSE;
    }
}

} // namespace

void installInterruptHandlers() { ::SetConsoleCtrlHandler(onConsoleEvent, TRUE); }

InterruptSignal pendingInterrupt() { return pending.load(); }

// A Windows console does not hang up: a closed one ends the program (see above).
bool terminalHungUp() { return false; }

RecordPending::RecordPending()
{
    const std::lock_guard lock(recordsLock);
    if (recordsPending++ == 0)
        ::ResetEvent(noRecordPending);
}

RecordPending::~RecordPending()
{
    const std::lock_guard lock(recordsLock);
    if (--recordsPending == 0)
        ::SetEvent(noRecordPending);
}

} // namespace fieldkit::cli
