#pragma once

#include <CLI/CLI.hpp>

namespace fieldkit::cli {

// `fieldkit-cli info`: the board's firmware version and ESN, as the board information
// dialog shows them.
void addInfoCommand(CLI::App& app, int& exitStatus);

} // namespace fieldkit::cli
