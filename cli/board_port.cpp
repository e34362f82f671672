#include "cli/board_port.h"

#include "cli/exit_status.h"
#include "core/com_port.h"

#include "session/hints.h"

#include "link/serial_port.h"
#include "settings/app_settings.h"
#include "settings/port_devices.h"
#include "sim/board_options.h"

#include <iostream>
#include <stdexcept>

namespace fieldkit::cli {

void addBoardPortOptions(CLI::App& command, BoardPortOptions& options, std::vector<int>* repeatedPorts)
{
    if (repeatedPorts != nullptr)
        command
            .add_option("--port", *repeatedPorts,
                        "COM port 1 to 4 (default: AppConfig.ini, else COM1); repeat it to upgrade the boards "
                        "on several ports at once")
            ->check(CLI::Range(kLowestPort, kHighestPort))
            ->allow_extra_args(false);
    else
        command.add_option("--port", options.port, "COM port 1 to 4 (default: AppConfig.ini, else COM1)")
            ->check(CLI::Range(kLowestPort, kHighestPort));
    command.add_flag("--simulate", options.simulate,
                     "Talk to an emulated board instead of the radio");
    // Checked as the command line is read, so that a bad one is a usage error before anything
    // runs: one line that names it, not the emulator's whole usage.
    command
        .add_option_function<std::vector<std::string>>(
            "--sim-option",
            [&options](const std::vector<std::string>& values) {
                try {
                    sim::parseBoardOptions(sim::splitOptionWords(values));
                } catch (const sim::BadBoardOptions& bad) {
                    std::cerr << "--sim-option: " << bad.reason() << '\n';
                    throw CLI::RuntimeError(kExitUsage);
                }
                options.simOptions = values;
            },
            "Emulator option for --simulate, e.g. --sim-option=--no-ping or "
            "--sim-option='--fail-command 0x1118' (see lodestar-sim --help)")
        ->allow_extra_args(false);
}

void checkDistinctDevices(const BoardPortOptions& options, const std::vector<int>& ports)
{
    if (options.simulate)
        return;
    for (std::size_t later = 1; later < ports.size(); ++later)
        for (std::size_t earlier = 0; earlier < later; ++earlier) {
            const auto first = settings::serialDeviceFor(ports[earlier]).device;
            const auto second = settings::serialDeviceFor(ports[later]).device;
            if (settings::sameDevice(first, second))
                throw CLI::ValidationError(
                    "--port", "COM" + std::to_string(ports[later]) + " (" + second + ") is the same device as COM" +
                                  std::to_string(ports[earlier]) + " (" + first +
                                  "); two runs would drive one board at once: map each port to a cable of its own");
        }
}

int resolvePort(const BoardPortOptions& options, Prompts& prompts, std::ostream& hints)
{
    const auto file = settings::settingsFile();
    if (const auto hint = session::unreadableSettingsHint(file); !hint.empty())
        hints << hint << '\n';
    if (options.port)
        return *options.port;
    const auto setting = settings::readPortSetting(file);
    if (setting.invalid)
        prompts.warning(WarningKind::InvalidPortSetting, settings::kInvalidPortWarning);
    if (setting.withoutPrefix)
        hints << session::portWithoutPrefixHint(file) << '\n';
    return setting.port;
}

BoardLine::BoardLine(const BoardPortOptions& options, int port, std::ostream& log)
{
    if (!options.simulate)
        return;
    simulated_ = std::make_unique<sim::SimulatedBoard>(sim::parseBoardOptions(sim::splitOptionWords(options.simOptions)));
    std::string error;
    if (!simulated_->start(&error))
        throw std::runtime_error("Cannot start the emulated board: " + error);
    log << "Emulated Lodestar board on " << simulated_->location() << " (COM" << port << ")\n";
}

BoardLine::~BoardLine() = default;

link::ChannelFactory BoardLine::channels()
{
    if (simulated_)
        return simulated_->channels(link::serialChannel);
    return link::serialPortChannels([](int port) { return settings::serialDeviceFor(port).device; });
}

std::string BoardLine::deviceFor(int port) const
{
    return simulated_ ? simulated_->location() : settings::serialDeviceFor(port).device;
}

void BoardLine::report(std::ostream& out) const
{
    if (!simulated_)
        return;
    const auto counters = simulated_->counters();
    out << "Emulated board: " << counters.requests << " requests, " << counters.payloadBytesIn
        << " payload bytes in, " << counters.wireBytesIn << " wire bytes in, " << counters.wireBytesOut
        << " wire bytes out, " << counters.repeats << " repeats\n";
}

} // namespace fieldkit::cli
