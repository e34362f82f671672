#include "cli/info_command.h"

#include "cli/board_port.h"
#include "cli/exit_status.h"
#include "cli/hints.h"
#include "cli/history_command.h"
#include "cli/interrupt.h"
#include "cli/terminal_prompts.h"
#include "link/board_connection.h"
#include "link/serial_board_link.h"
#include "link/stoppable_board_link.h"

#include <iostream>
#include <memory>

namespace fieldkit::cli {
namespace {

int runInfoCommand(const BoardPortOptions& options)
{
    installInterruptHandlers();
    history::UpgradeRun run(history::kInfoCommand);
    TerminalPrompts prompts(std::cin, std::cerr, AnswerPolicy::Ask);
    const int port = resolvePort(options, prompts, std::cerr);
    BoardLine line(options, port, std::cerr);
    run.port = port;
    run.device = line.deviceFor(port);
    run.simulated = options.simulate;

    link::SerialBoardLink serialLink(line.channels());
    const std::vector<image::LoadedFile> noFiles;
    const FailureHints hints(serialLink, port, line.deviceFor(port), noFiles);
    prompts.setHints([&hints](const Cause& cause) { return hints.forCause(cause); });
    UpgradeStop stop;
    link::StoppableBoardLink boardLink(serialLink, stop);
    StoppableClock clock(nullptr, stop);
    link::BoardConnection connection(boardLink, clock);

    // The information command runs its steps back to back, without the upgrade's pauses.
    std::optional<link::ConnectionFailure> failure;
    {
        const InterruptWatch watch(stop);
        failure = connection.readBoardInformation(port);
    }
    connection.close();
    const InterruptSignal signal = pendingInterrupt();
    recordInHistory(run, history::reportOfBoardRead(connection.identity(), failure, signal != InterruptSignal::None),
                    std::cerr);
    if (signal != InterruptSignal::None) {
        std::cerr << "Interrupted: the board was only being read; nothing on it was changed.\n";
        return exitStatusFor(signal);
    }
    if (failure) {
        prompts.error(failure->kind, failure->text);
        return kExitFailed;
    }

    const auto& identity = connection.identity();
    std::cout << "Lodestar Board ESN: " << identity.esnText << '\n'
              << "Lodestar Board Firmware Version: " << identity.boardVersionText << '\n';
    line.report(std::cerr);
    return kExitDone;
}

} // namespace

void addInfoCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<BoardPortOptions>();
    CLI::App* command = app.add_subcommand("info", "Read the Lodestar board's firmware version and ESN");
    addBoardPortOptions(*command, *options);
    command->callback([options, &exitStatus] { exitStatus = runInfoCommand(*options); });
}

} // namespace fieldkit::cli
