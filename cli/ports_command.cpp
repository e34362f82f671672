#include "cli/ports_command.h"

#include "core/com_port.h"

#include "cli/exit_status.h"
#include "link/serial_port.h"
#include "settings/app_settings.h"
#include "settings/port_devices.h"

#include <iostream>

namespace fieldkit::cli {
namespace {

int runPortsCommand()
{
    const auto ports = link::availableSerialPorts();
    std::cout << "Serial ports on this machine:\n";
    if (ports.empty())
        std::cout << "  (none found)\n";
    for (const auto& port : ports) {
        std::cout << "  " << port.systemLocation;
        for (const std::string* detail : {&port.description, &port.manufacturer, &port.serialNumber})
            if (!detail->empty())
                std::cout << "  " << *detail;
        std::cout << '\n';
    }

    const auto setting = settings::readPortSetting(settings::settingsFile());
    std::cout << "\nCOM ports as FieldKit maps them (set with FIELDKIT_COMn=DEVICE or in "
              << settings::kSettingsFileName << " [SerialDevices] COMn=DEVICE):\n";
    for (int port = kLowestPort; port <= kHighestPort; ++port) {
        const auto mapped = settings::serialDeviceFor(port);
        std::cout << "  " << comPortName(port) << "  " << mapped.device << "  (" << mapped.source << ")"
                  << (port == setting.port ? "  <- selected in " + std::string(settings::kSettingsFileName) : "")
                  << '\n';
    }
    return kExitDone;
}

} // namespace

void addPortsCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* command = app.add_subcommand("ports", "List serial ports and the COM1-COM4 mapping in force");
    command->callback([&exitStatus] { exitStatus = runPortsCommand(); });
}

} // namespace fieldkit::cli
