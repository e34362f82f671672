#include "cli/info_command.h"

#include "cli/board_port.h"
#include "cli/exit_status.h"
#include "cli/hints.h"
#include "cli/terminal_prompts.h"
#include "link/board_connection.h"
#include "link/serial_board_link.h"

#include <iostream>
#include <memory>

namespace fieldkit::cli {
namespace {

int runInfoCommand(const BoardPortOptions& options)
{
    TerminalPrompts prompts(std::cin, std::cerr, false);
    const int port = resolvePort(options, prompts, std::cerr);
    BoardLine line(options, port, std::cerr);

    link::SerialBoardLink boardLink(line.channels());
    const FailureHints hints(boardLink, port, line.deviceFor(port), ".");
    prompts.setHints([&hints](const std::string& text) { return hints.forMessage(text); });
    SystemClock clock;
    link::BoardConnection connection(boardLink, clock);

    // The information command runs its steps back to back, without the upgrade's pauses.
    std::optional<std::string> failure = connection.open(port, false, nullptr);
    if (!failure && !connection.readFirmwareVersion(false))
        failure = link::kReadVersionFailed;
    if (!failure && !connection.readEsn())
        failure = link::kReadEsnFailed;
    if (failure) {
        connection.close();
        prompts.error(*failure);
        return kExitFailed;
    }

    const auto& identity = connection.identity();
    std::cout << "Lodestar Board ESN: " << identity.esnText << '\n'
              << "Lodestar Board Firmware Version: " << identity.boardVersionText << '\n';
    connection.close();
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
