#pragma once

namespace fieldkit::cli {

// Whether standard output is a terminal (a Linux terminal, a Windows console) on which the
// progress bar may redraw itself in place; false for a file or a pipe.
// On a Windows console this also switches on its handling of escape sequences, and says false
// where that cannot be done, so the output falls back to plain lines.
bool standardOutputIsTerminal();

// How many columns the terminal on standard output has now (it may be resized at any time);
// 0 when it is no terminal or will not say.
int terminalColumns();

// Readies the console for the program's output: on Windows, UTF-8 in and out, so paths and
// texts that are not ASCII show as they are. Nothing elsewhere.
void prepareConsole();

} // namespace fieldkit::cli
