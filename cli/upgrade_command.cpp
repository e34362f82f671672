#include "cli/upgrade_command.h"

#include "cli/bench_run.h"
#include "cli/board_port.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/hints.h"
#include "cli/history_command.h"
#include "cli/interrupt.h"
#include "cli/settings_frame.h"
#include "cli/terminal_notices.h"
#include "cli/terminal_prompts.h"
#include "flash/upgrade_worker.h"
#include "link/serial_board_link.h"
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
    installInterruptHandlers();
    const RecordPending recordPending;
    history::UpgradeRun run(history::kUpgradeCommand);
    TerminalPrompts prompts(std::cin, std::cerr, answerPolicy(options.assumeYes, options.force));
    const int port = resolvePort(options.board, prompts, std::cerr);
    BoardLine line(options.board, port, std::cerr);
    run.port = port;
    run.device = line.deviceFor(port);
    run.simulated = options.board.simulate;
    run.settingsVersion = settings::readFirmwareVersionSetting(settings::settingsFile());
    SettingsFrame frame(port, run.settingsVersion);

    UpgradeStop stop;
    StoppableClock clock(nullptr, stop);
    link::SerialBoardLink boardLink(line.channels(), &clock);
    flash::UpgradeReport report;
    const FailureHints hints(boardLink, port, line.deviceFor(port), report.files);
    prompts.setHints([&hints](const Cause& cause) { return hints.forCause(cause); });
    TerminalNotices notices(std::cout, standardOutputIsTerminal());
    {
        const InterruptWatch watch(stop);
        flash::UpgradeWorker(frame, {boardLink, clock, prompts, notices, ".", &report, &stop});
    }

    line.report(std::cerr);
    if (const auto hint = slowAdapterHint(boardLink.statistics(), run.device); !hint.empty())
        std::cerr << hint << '\n';
    const InterruptSignal signal = pendingInterrupt();
    const bool interrupted = endedBy(signal, report.stage, report.succeeded);
    report.interrupted = report.interrupted || interrupted;
    recordInHistory(run, report, std::cerr);
    if (interrupted) {
        std::cerr << interruptedUpgradeText(report.stage) << '\n';
        return exitStatusFor(signal);
    }
    if (report.succeeded)
        return kExitDone;
    return prompts.declined() ? kExitDeclined : kExitFailed;
}

} // namespace

std::string interruptedUpgradeText(UpgradeStage stage)
{
    if (!boardChangedFrom(stage))
        return "Interrupted before the erase: nothing was written to the board, and its firmware is as it was.";
    return "Interrupted after the board's flash was erased: the board holds no whole firmware now.\n"
           "Switch the radio off and on, and run the upgrade again.";
}

void addUpgradeCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<UpgradeOptions>();
    CLI::App* command = app.add_subcommand(
        "upgrade", "Upgrade the Lodestar board with corvo_boot.s19 and corvo_fwapp.s19 from the current directory");
    addBoardPortOptions(*command, options->board, &options->ports);
    addAnswerOptions(*command, options->assumeYes, options->force);
    command->callback([options, &exitStatus] {
        checkBenchPorts(options->ports);
        checkDistinctDevices(options->board, options->ports);
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
