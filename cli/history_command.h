#pragma once

#include "flash/upgrade_report.h"
#include "history/history_record.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace fieldkit::cli {

// `fieldkit-cli history`: the recorded upgrades and board reads, newest first.
void addHistoryCommand(CLI::App& app, int& exitStatus);

// Appends the record of a run that has ended to the history. The run's outcome stands
// whatever happens here: a record that cannot be written gets a Warning line on `warnings`.
void recordInHistory(const history::UpgradeRun& run, const flash::UpgradeReport& report, std::ostream& warnings);

} // namespace fieldkit::cli
