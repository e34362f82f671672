#pragma once

// Where a run that has ended is kept: the one place that writes the upgrade history. Anything
// that must follow the record on disk belongs in recordRun.

#include "flash/upgrade_report.h"
#include "history/history_record.h"

#include <optional>
#include <string>
#include <vector>

namespace fieldkit::session {

struct Recorded {
    std::optional<std::string> notWritten; // why the record is not in the history file
    std::optional<std::string> notSent;    // the shop database's trouble: the records wait
};

// Appends the run's record, then sends what waits to the shop database when one is named.
// The run's outcome stands either way.
Recorded recordRun(const history::UpgradeRun& run, const flash::UpgradeReport& report);

// The warnings a front end shows after a run (history::kUpgradeCommand or kInfoCommand) whose
// record was not written, or whose records the shop database did not take: one text each,
// none when all went well.
std::vector<std::string> recordWarnings(const char* command, const Recorded& recorded);

} // namespace fieldkit::session
