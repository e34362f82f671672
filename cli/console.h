#pragma once

namespace fieldkit::cli {

// Whether standard output is a terminal (a Linux terminal, a Windows console) on which the
// progress bar may redraw itself in place; false for a file or a pipe.
bool standardOutputIsTerminal();

} // namespace fieldkit::cli
