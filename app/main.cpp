// fieldkit: the desktop program that upgrades a Lodestar option board's firmware and reads
// its identity, through the radio's programming cable.

#include "app/command_line.h"

#include "core/com_port.h"
#include "app/fieldkit_app.h"
#include "app/main_frame.h"
#include "app/message_boxes.h"
#include "app/program_ending.h"
#include "app/windows_shell.h"
#include "app/work_folder.h"
#include "link/serial_board_link.h"
#include "link/serial_port.h"
#include "session/stop_signals.h"
#include "sim/board_options.h"
#include "sim/simulated_board.h"

#include <QApplication>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <iostream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

constexpr int kUsageError = 2;
constexpr int kStartFailed = 1;

// Whether a desktop is there to show the window on. The toolkit aborts without one, so the
// program says so itself first.
bool haveDisplay()
{
#if defined(__unix__) && !defined(__APPLE__)
    return qEnvironmentVariableIsSet("QT_QPA_PLATFORM") || qEnvironmentVariableIsSet("DISPLAY") ||
           qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

} // namespace

int main(int argc, char* argv[])
{
    // Help needs no display: the arguments are read once before the toolkit starts when they
    // ask for it.
    const std::vector<std::string> allArgs(argv + 1, argv + argc);
    if (std::find_if(allArgs.begin(), allArgs.end(), [](const std::string& arg) {
            return arg == "--help" || arg == "-h";
        }) != allArgs.end()) {
        int status = 0;
        fieldkit::app::parseCommandLine(allArgs, std::cout, std::cerr, &status);
        return status;
    }

    // From here on a signal ends the program as the command line ends: see program_ending.h.
    fieldkit::session::catchStopSignals();

    if (!haveDisplay()) {
        std::fputs("fieldkit: there is no display to show the window on (DISPLAY is not set).\n"
                   "On a terminal, fieldkit-cli does the same work.\n",
                   stderr);
        return kStartFailed;
    }

    // The toolkit takes its own arguments (-platform, -style, ...) out of argv.
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("fieldkit"));
    QApplication::setApplicationVersion(QStringLiteral(FIELDKIT_VERSION));

    int usageStatus = 0;
    const auto commandLine = fieldkit::app::parseCommandLine(std::vector<std::string>(argv + 1, argv + argc),
                                                             std::cout, std::cerr, &usageStatus);
    if (!commandLine)
        return usageStatus;

    std::string workFolderWarning;
    if (commandLine->workFolder) {
        const auto folder =
            commandLine->workFolder->empty() ? fieldkit::app::desktopWorkFolder() : *commandLine->workFolder;
        workFolderWarning = fieldkit::app::enterWorkFolder(
            folder, fieldkit::app::installedStarterFolder(QCoreApplication::applicationDirPath().toStdU16String()));
        if (!workFolderWarning.empty())
            std::fprintf(stderr, "fieldkit: %s\n", workFolderWarning.c_str());
    }

    // The emulated board outlives the window, whose upgrade thread may still be talking to it.
    std::string error;
    std::unique_ptr<fieldkit::sim::SimulatedBoard> board;
    if (commandLine->simulate) {
        try {
            board = std::make_unique<fieldkit::sim::SimulatedBoard>(
                fieldkit::sim::parseBoardOptions(commandLine->boardOptions));
        } catch (const std::invalid_argument& badOption) {
            std::fprintf(stderr, "fieldkit: %s\n", badOption.what());
            return kUsageError;
        }
        if (!board->start(&error)) {
            std::fprintf(stderr, "fieldkit: the emulated board could not be started: %s\n", error.c_str());
            return kStartFailed;
        }
    }

    fieldkit::app::FrameServices services;
    if (board) {
        // Every COM port leads to the emulated board, so that choosing another port in the
        // COM port dialog does not turn a demonstration into a search for a real device.
        services.makeLink = [channels = board->channels(fieldkit::link::serialChannel)] {
            return std::make_unique<fieldkit::link::SerialBoardLink>(channels);
        };
        services.emulatedBoard = board->location();
        std::fprintf(stderr, "fieldkit: emulated Lodestar board on %s as COM%d to COM%d\n", board->location().c_str(),
                     fieldkit::kLowestPort, fieldkit::kHighestPort);
    }
    fieldkit::app::CFieldKitApp app(services);
    app.InitInstance();
    const fieldkit::app::WindowsShell shell(*app.GetMainWnd());
    const fieldkit::app::ProgramEnding ending(*app.GetMainWnd());
    // From the event loop, whose end a signal may ask for while the box is open.
    if (!workFolderWarning.empty())
        QTimer::singleShot(0, app.GetMainWnd(),
                           [&app, workFolderWarning] { fieldkit::app::warningBox(app.GetMainWnd(), workFolderWarning); });
    return application.exec();
}
