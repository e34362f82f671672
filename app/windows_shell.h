#pragma once

// What Windows' shell expects of a program doing long work that must not be cut off: the
// taskbar button shows the upgrade's progress, and logging off or shutting down is held back
// with a reason while an upgrade runs (on a bench, while any board is past its erase), the way
// the close guard holds back closing the window. Elsewhere the taskbar and the session are
// left alone.

#include <QObject>

#include <filesystem>
#include <memory>

namespace fieldkit::app {

class BenchWindow;
class CMainFrame;

// Shown by Windows on the log-off and shut-down screen while an upgrade holds them back.
inline constexpr const char* IDS_SHUTDOWN_REASON = "Upgrading a radio's firmware";

// Follows the main window's busy mark and progress bar, or the bench's runs, for as long as it
// lives.
class WindowsShell final : public QObject {
public:
    explicit WindowsShell(CMainFrame& frame);
    explicit WindowsShell(BenchWindow& bench);
    ~WindowsShell() override;

private:
    class Native;
    std::unique_ptr<Native> native_;
};

// The user's documents folder as the desktop names it (on Windows the shell's known folder);
// empty when there is none.
std::filesystem::path documentsFolder();

} // namespace fieldkit::app
