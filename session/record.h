#pragma once

// Where a run that has ended is kept: the one place that writes the upgrade history, and the
// push of what waits to the shop database, which each front end calls once it has shown the
// run's result.

#include "flash/upgrade_report.h"
#include "history/history_record.h"

#include <optional>
#include <string>
#include <vector>

namespace fieldkit::session {

struct Recorded {
    std::optional<std::string> notWritten; // why the record is not in the history file
};

// Appends the run's record to the history file.
Recorded recordRun(const history::UpgradeRun& run, const flash::UpgradeReport& report);

// The warning a front end shows after a run (history::kUpgradeCommand or kInfoCommand) whose
// record was not written: one text, none when all went well.
std::vector<std::string> recordWarnings(const char* command, const Recorded& recorded);

// Sends what waits in the history to the shop database, when one is named, within a few
// seconds; what to warn about (nothing when all went well). Whatever it meets, the run's
// outcome and exit status stand: each front end shows these as warnings, after the result.
std::vector<std::string> pushToShop();

} // namespace fieldkit::session
