#include "app/command_line.h"

#include "session/bench.h"
#include "sim/board_options.h"

#include <CLI/CLI.hpp>

namespace fieldkit::app {

std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& args, std::ostream& out,
                                            std::ostream& err, int* exitStatus)
{
    CLI::App app{"FieldKit: upgrades the firmware of a Lodestar option board through the radio's "
                 "programming cable, and reads the board's firmware version and ESN.",
                 "fieldkit"};
    // A folder such as /srv/bench is a value, never a Windows-style option.
    app.allow_windows_style_options(false);
    CommandLine line;
    std::vector<std::string> simOptions;
    std::string workFolder;
    auto* simulate = app.add_flag("--simulate", line.simulate,
                                  "Serve an emulated Lodestar board on a pseudo-terminal and map COM1 to COM4 "
                                  "to it, for demonstrations and tests");
    app.add_option("--sim-option", simOptions,
                   "An option of the emulated board as lodestar-sim takes it, several words allowed: "
                   "--sim-option=--no-ping or --sim-option='--esn 0x12345678' (see lodestar-sim --help)")
        ->allow_extra_args(false)
        ->needs(simulate);
    auto* folder = app.add_option("--work-folder", workFolder,
                                  "Work in FOLDER instead of the current directory; without FOLDER in "
                                  "FieldKit under the documents folder, else in ~/FieldKit. The folder is "
                                  "created with a starter Info.txt and AppConfig.ini when they are missing")
                       ->expected(0, 1)
                       ->type_name("[FOLDER]");
    std::string benchPorts;
    auto* bench = app.add_option("--bench", benchPorts,
                                 "Upgrade the boards on several COM ports at once, a pane each: PORTS as 1,3 or "
                                 "COM1,COM3; without PORTS those kept in AppConfig.ini ([Bench] Ports), else "
                                 "chosen in a dialog")
                      ->expected(0, 1)
                      ->type_name("[PORTS]")
                      ->check([](const std::string& text) -> std::string {
                          if (text.empty())
                              return {};
                          const auto ports = session::parseBenchPorts(text);
                          if (!ports)
                              return "PORTS are COM ports 1 to 4, separated by commas: 1,3 or COM1,COM3";
                          // A given port twice is bad usage; what the ports mean is checked when the bench starts.
                          return session::benchPortsConflict(*ports, {}, true).value_or("");
                      });

    // CLI11 takes the words last to first.
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::ParseError& error) {
        *exitStatus = app.exit(error, out, err) == 0 ? 0 : 2;
        return std::nullopt;
    }
    line.boardOptions = sim::splitOptionWords(simOptions);
    if (folder->count() > 0)
        line.workFolder = std::filesystem::path(workFolder);
    if (bench->count() > 0)
        line.bench = benchPorts.empty() ? std::vector<int>() : *session::parseBenchPorts(benchPorts);
    return line;
}

} // namespace fieldkit::app
