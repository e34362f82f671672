#pragma once

// Requests from outside to end the program, caught so that a run can end at a safe point and
// be recorded instead of leaving a half-written board: on Linux the signals that would end the
// program (SIGHUP, SIGINT, SIGTERM, SIGQUIT, SIGUSR1, SIGUSR2, SIGALRM), on Windows the
// console's events. The handlers only take note; each front end looks at what came and acts.
// The first request (a hang-up aside) is noted, a second one ends the program at once with the
// first one's status. A hang-up never ends the program by itself: a shell passes its own
// hang-up on to its jobs beside the terminal's, and a run past the erase must be let finish.

#include "session/endings.h"

namespace fieldkit::session {

// Installs the handlers. A signal the program inherited as ignored (`nohup`, a background
// job of a shell without job control) stays ignored. A closed pipe no longer ends the
// program: what can no longer be written is dropped, the run goes on.
void catchStopSignals();

// The first request to end the program; HangUp when only a hang-up came; None when nothing
// did.
StopSignal pendingStopSignal();

// Whether the terminal hung up: questions are then answered No, as at the end of input.
bool terminalHungUp();

} // namespace fieldkit::session
