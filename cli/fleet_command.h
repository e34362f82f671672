#pragma once

#include <CLI/CLI.hpp>

namespace fieldkit::cli {

// `fieldkit-cli fleet`: each radio's latest run in the shop database.
void addFleetCommand(CLI::App& app, int& exitStatus);

} // namespace fieldkit::cli
