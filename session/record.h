#pragma once

// Where a run that has ended is kept: the one place that writes the upgrade history. Anything
// that must follow the record on disk belongs in recordRun.

#include "flash/upgrade_report.h"
#include "history/history_record.h"

#include <optional>
#include <string>

namespace fieldkit::session {

// Appends the run's record. Empty when it was written, else why not; the run's outcome
// stands either way, and each front end words the warning its own way.
std::optional<std::string> recordRun(const history::UpgradeRun& run, const flash::UpgradeReport& report);

} // namespace fieldkit::session
