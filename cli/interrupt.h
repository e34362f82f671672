#pragma once

namespace fieldkit::cli {

enum class InterruptSignal { None, Interrupt, Terminate }; // Ctrl+C / SIGINT, SIGTERM
void installInterruptHandlers();          // first signal: stop at the next safe point; second: end at once with its exit status
InterruptSignal pendingInterrupt();       // what arrived, None when nothing did
int exitStatusFor(InterruptSignal signal); // 130 for Interrupt, 143 for Terminate

} // namespace fieldkit::cli
