#pragma once

#include <CLI/CLI.hpp>

namespace fieldkit::cli {

// `fieldkit-cli upgrade`: one whole upgrade of the board from corvo_boot.s19, corvo_fwapp.s19
// and AppConfig.ini in the current directory.
void addUpgradeCommand(CLI::App& app, int& exitStatus);

} // namespace fieldkit::cli
