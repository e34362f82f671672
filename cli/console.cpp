// The platform calls that tell a terminal from a file or a pipe, and what the terminal is like.

#include "cli/console.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/ioctl.h>
#include <unistd.h>
#endif

namespace fieldkit::cli {

bool standardOutputIsTerminal()
{
#ifdef _WIN32
    // _isatty is also true for the NUL device and serial ports; only a console has a mode.
    const HANDLE output = ::GetStdHandle(STD_OUTPUT_HANDLE);
    DWORD mode = 0;
    if (::_isatty(::_fileno(stdout)) == 0 || ::GetConsoleMode(output, &mode) == 0)
        return false;
    // Consoles before Windows 10 know no escape sequences and would print them as text.
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           ::SetConsoleMode(output, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
#else
    return ::isatty(STDOUT_FILENO) == 1;
#endif
}

int terminalColumns()
{
#ifdef _WIN32
    CONSOLE_SCREEN_BUFFER_INFO info{};
    if (::GetConsoleScreenBufferInfo(::GetStdHandle(STD_OUTPUT_HANDLE), &info) == 0)
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
#else
    winsize size{};
    if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
#endif
}

void prepareConsole()
{
#ifdef _WIN32
    ::SetConsoleOutputCP(CP_UTF8);
    ::SetConsoleCP(CP_UTF8);
#endif
}

} // namespace fieldkit::cli
