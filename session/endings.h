#pragma once

// How runs end a program, for every front end: the exit status for their results and the
// signal that stopped them, and what the board holds after a stop, in words any front end can
// show.

#include "core/causes.h"
#include "flash/upgrade_report.h"

#include <span>
#include <string>

namespace fieldkit::session {

inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitDeclined = 3; // the user answered No to a question

// A request from outside to end the program, by the number POSIX systems give its signal.
// Windows' console events arrive as Interrupt (Ctrl+C) and Terminate (Ctrl+Break, the console
// closed, logging off, shutting down).
enum class StopSignal {
    None = 0,
    HangUp = 1,    // the terminal closed, an SSH session dropped
    Interrupt = 2, // Ctrl+C
    Quit = 3,      // Ctrl+backslash
    User1 = 10,
    User2 = 12,
    Alarm = 14,
    Terminate = 15, // kill, systemctl stop, a shutting-down session
};

// 128 + the signal's number, as shells report a program that the signal ended; 0 for None.
int exitStatusFor(StopSignal signal);

// The exit status of runs that have ended (one, or a bench's, one per port): when `signal`
// stopped any of them, the signal's status; else 0 when every one succeeded, 1 when any
// failed or stopped, 3 when none failed but some were declined.
int exitStatusFor(std::span<const flash::RunResult> results, StopSignal signal);
int exitStatusFor(flash::RunResult result, StopSignal signal);

// Where the board stands after an upgrade stopped at `stage`: untouched, in programming mode,
// or erased and needing a whole upgrade.
std::string afterStopText(UpgradeStage stage);

// The same after a board read was stopped.
inline constexpr const char* kBoardReadStopped =
    "Interrupted: the board was only being read; nothing on it was changed.";

} // namespace fieldkit::session
