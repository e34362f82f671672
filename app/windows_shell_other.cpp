#include "app/windows_shell.h"

#include <QStandardPaths>

namespace fieldkit::app {

// No taskbar progress or session to hold back outside Windows.
class WindowsShell::Native {};

WindowsShell::WindowsShell(CMainFrame& /*frame*/) {}

WindowsShell::WindowsShell(BenchWindow& /*bench*/) {}

WindowsShell::~WindowsShell() = default;

std::filesystem::path documentsFolder()
{
    return QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation).toStdU16String();
}

} // namespace fieldkit::app
