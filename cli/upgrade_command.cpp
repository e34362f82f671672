#include "cli/upgrade_command.h"

#include "cli/bench_run.h"
#include "cli/board_port.h"
#include "cli/console.h"
#include "cli/history_command.h"
#include "cli/interrupt.h"
#include "cli/session_wiring.h"
#include "cli/terminal_notices.h"
#include "cli/terminal_prompts.h"
#include "session/endings.h"
#include "session/session.h"
#include "session/stop_signals.h"
#include "settings/app_settings.h"

#include <iostream>
#include <memory>

namespace fieldkit::cli {
namespace {

struct UpgradeOptions {
    BoardPortOptions board;
    std::vector<int> ports; // every --port given: one is a single run, several a bench
    bool assumeYes = false;
    bool force = false;
};

int runUpgradeCommand(const UpgradeOptions& options)
{
    session::catchStopSignals();
    TerminalNotices notices(std::cout, standardOutputIsTerminal());
    TerminalPrompts prompts(std::cin, std::cerr, answerPolicy(options.assumeYes, options.force), &notices);
    const int port = session::choosePort(options.board.port, settings::settingsFile(), prompts);
    BoardLine line(options.board, port, std::cerr);
    session::UpgradePlan plan;
    plan.place = session::placeFor(port, settings::settingsFile(), line.emulatedBoard());
    plan.settingsVersion = settings::readFirmwareVersionSetting(settings::settingsFile());

    UpgradeStop stop;
    session::Outcome outcome;
    {
        const InterruptWatch watch(stop);
        outcome = session::runUpgrade(plan, {boardLinks(line), prompts, stop, nullptr, interrupting(stop)});
    }

    line.report(std::cerr);
    if (!outcome.adapterHint.empty())
        std::cerr << outcome.adapterHint << '\n';
    warnIfNotRecorded(outcome.recorded, history::kUpgradeCommand, std::cerr);
    pushAfterRun(std::cerr);
    if (outcome.result == flash::RunResult::Interrupted)
        std::cerr << session::afterStopText(outcome.report.stage) << '\n';
    return session::exitStatusFor(outcome.result, session::pendingStopSignal());
}

} // namespace

void addUpgradeCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<UpgradeOptions>();
    CLI::App* command = app.add_subcommand(
        "upgrade", "Upgrade the Lodestar board with corvo_boot.s19 and corvo_fwapp.s19 from the current directory");
    addBoardPortOptions(*command, options->board, &options->ports);
    addAnswerOptions(*command, options->assumeYes, options->force);
    command->callback([options, &exitStatus] {
        checkBenchPorts(options->board, options->ports);
        if (options->ports.size() > 1) {
            exitStatus = runBench({options->ports, options->board, answerPolicy(options->assumeYes, options->force)});
            return;
        }
        if (!options->ports.empty())
            options->board.port = options->ports.front();
        exitStatus = runUpgradeCommand(*options);
    });
}

} // namespace fieldkit::cli
