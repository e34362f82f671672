// fieldkit-cli: the Lodestar option board tools on a terminal.

#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/fleet_command.h"
#include "cli/history_command.h"
#include "cli/image_command.h"
#include "cli/info_command.h"
#include "cli/ports_command.h"
#include "cli/upgrade_command.h"

#include <CLI/CLI.hpp>

#include <exception>
#include <iostream>

int main(int argc, char** argv)
{
    using namespace fieldkit::cli;

    prepareConsole();
    CLI::App app{"FieldKit: Lodestar option board firmware tools", "fieldkit-cli"};
    app.require_subcommand(1);
    int exitStatus = kExitDone;
    addUpgradeCommand(app, exitStatus);
    addInfoCommand(app, exitStatus);
    addPortsCommand(app, exitStatus);
    addImageCommand(app, exitStatus);
    addHistoryCommand(app, exitStatus);
    addFleetCommand(app, exitStatus);

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help is a parse "error" that succeeds.
        const int status = app.exit(e);
        return status == 0 ? kExitDone : kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "fieldkit-cli: " << e.what() << '\n';
        return kExitFailed;
    }
    return exitStatus;
}
