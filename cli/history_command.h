#pragma once

#include "history/history_record.h"
#include "session/record.h"

#include <CLI/CLI.hpp>

#include <optional>
#include <ostream>
#include <string>

namespace fieldkit::cli {

// `fieldkit-cli history`: the recorded upgrades and board reads, newest first.
void addHistoryCommand(CLI::App& app, int& exitStatus);

// A Warning line on `warnings` when the record of a run (history::kUpgradeCommand or
// kInfoCommand) could not be written, and one when the shop database did not take what
// waits; the run's outcome stands either way.
void warnIfNotRecorded(const session::Recorded& recorded, const char* command, std::ostream& warnings);

} // namespace fieldkit::cli
