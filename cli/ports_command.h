#pragma once

#include <CLI/CLI.hpp>

namespace fieldkit::cli {

// `fieldkit-cli ports`: the serial ports this machine has and the device each of COM1 to
// COM4 stands for, so a technician with a USB cable knows what to set.
void addPortsCommand(CLI::App& app, int& exitStatus);

} // namespace fieldkit::cli
