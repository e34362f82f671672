#include "cli/info_command.h"

#include "cli/board_port.h"
#include "cli/history_command.h"
#include "cli/interrupt.h"
#include "cli/terminal_prompts.h"
#include "cli/session_wiring.h"
#include "session/endings.h"
#include "session/session.h"
#include "session/stop_signals.h"
#include "settings/app_settings.h"

#include <iostream>
#include <memory>

namespace fieldkit::cli {
namespace {

int runInfoCommand(const BoardPortOptions& options)
{
    session::catchStopSignals();
    TerminalPrompts prompts(std::cin, std::cerr, AnswerPolicy::Ask);
    const int port = session::choosePort(options.port, settings::settingsFile(), prompts);
    BoardLine line(options, port, std::cerr);
    const session::Place place = session::placeFor(port, settings::settingsFile(), line.emulatedBoard());

    UpgradeStop stop;
    const auto show = [](const link::BoardIdentity& identity) {
        std::cout << "Lodestar Board ESN: " << identity.esnText << '\n'
                  << "Lodestar Board Firmware Version: " << identity.boardVersionText << '\n';
    };
    session::BoardReadOutcome outcome;
    {
        const InterruptWatch watch(stop);
        outcome = session::readBoard(place, settings::readFirmwareVersionSetting(settings::settingsFile()),
                                     {boardLinks(line), prompts, stop, nullptr, interrupting(stop)}, show);
    }
    warnIfNotRecorded(outcome.recorded, history::kInfoCommand, std::cerr);
    pushAfterRun(std::cerr);
    if (outcome.result == flash::RunResult::Success)
        line.report(std::cerr);
    if (outcome.result == flash::RunResult::Interrupted)
        std::cerr << session::kBoardReadStopped << '\n';
    return session::exitStatusFor(outcome.result, session::pendingStopSignal());
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
