#include "cli/board_port.h"

#include "cli/hints.h"

#include "settings/app_settings.h"
#include "sim/board_options.h"

#include <cstdlib>
#include <sstream>
#include <stdexcept>

namespace fieldkit::cli {

void addBoardPortOptions(CLI::App& command, BoardPortOptions& options, std::vector<int>* repeatedPorts)
{
    if (repeatedPorts != nullptr)
        command
            .add_option("--port", *repeatedPorts,
                        "COM port 1 to 4 (default: AppConfig.ini, else COM1); repeat it to upgrade the boards "
                        "on several ports at once")
            ->check(CLI::Range(1, 4))
            ->allow_extra_args(false);
    else
        command.add_option("--port", options.port, "COM port 1 to 4 (default: AppConfig.ini, else COM1)")
            ->check(CLI::Range(1, 4));
    command.add_flag("--simulate", options.simulate,
                     "Talk to an emulated board on a pseudo-terminal instead of the radio");
    command.add_option("--sim-option", options.simOptions,
                       "Emulator option for --simulate, e.g. --sim-option=--no-ping or "
                       "--sim-option='--fail-command 0x1118' (see lodestar-sim --help)")
        ->allow_extra_args(false);
}

int resolvePort(const BoardPortOptions& options, Prompts& prompts, std::ostream& hints)
{
    const auto file = settings::settingsFile();
    if (const auto hint = unreadableSettingsHint(file); !hint.empty())
        hints << hint << '\n';
    if (options.port)
        return *options.port;
    const auto setting = settings::readPortSetting(file);
    if (setting.invalid)
        prompts.warning(WarningKind::InvalidPortSetting, settings::kInvalidPortWarning);
    if (setting.withoutPrefix)
        hints << portWithoutPrefixHint(file) << '\n';
    return setting.port;
}

SimulatedBoard::SimulatedBoard(const BoardPortOptions& options, int port, std::ostream& log)
{
    if (!options.simulate)
        return;
    // Each --sim-option may carry several words: "--fail-command 0x1118".
    std::vector<std::string> words;
    for (const auto& option : options.simOptions) {
        std::istringstream split(option);
        for (std::string word; split >> word;)
            words.push_back(word);
    }
    host_ = std::make_unique<sim::PtyBoardHost>(sim::parseBoardOptions(words));
    std::string error;
    if (!host_->start(&error))
        throw std::runtime_error("Cannot start the emulated board: " + error);
    const std::string variable = "FIELDKIT_COM" + std::to_string(port);
    ::setenv(variable.c_str(), host_->devicePath().c_str(), 1);
    log << "Emulated Lodestar board on " << host_->devicePath() << " (COM" << port << ")\n";
}

SimulatedBoard::~SimulatedBoard() = default;

void SimulatedBoard::report(std::ostream& out) const
{
    if (!host_)
        return;
    const auto counters = host_->counters();
    out << "Emulated board: " << counters.requests << " requests, " << counters.payloadBytesIn
        << " payload bytes in, " << counters.wireBytesIn << " wire bytes in, " << counters.wireBytesOut
        << " wire bytes out, " << counters.repeats << " repeats\n";
}

} // namespace fieldkit::cli
