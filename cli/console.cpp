// The platform calls that tell a terminal from a file or a pipe.

#include "cli/console.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fieldkit::cli {

bool standardOutputIsTerminal()
{
#ifdef _WIN32
    // _isatty is also true for the NUL device and serial ports; only a console has a mode.
    DWORD mode = 0;
    return ::_isatty(::_fileno(stdout)) != 0 && ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
#else
    return ::isatty(STDOUT_FILENO) == 1;
#endif
}

} // namespace fieldkit::cli
