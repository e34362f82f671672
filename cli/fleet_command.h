#pragma once

#include <CLI/CLI.hpp>

namespace fieldkit::cli {

// `fieldkit-cli fleet`: each radio's state in the shop database, or each bench's failures.
void addFleetCommand(CLI::App& app, int& exitStatus);

} // namespace fieldkit::cli
