#pragma once

// The desktop program's side of the upgrade history: the run it records and the one call
// that appends the record when an upgrade or a board read ends.

#include "flash/upgrade_report.h"
#include "history/history_record.h"

#include <filesystem>
#include <string>

namespace fieldkit::app {

struct FrameServices;

// A run starting now on COM<port>, through the board the frame's services lead to.
history::UpgradeRun startHistoryRun(const char* command, int port, const std::string& settingsVersion,
                                    const FrameServices& services);

// Appends the run's record and sends what waits to the shop database, if one is named.
// Empty when both went well, else the text of the warning box the window shows after the
// run; the run's outcome stands either way.
std::string recordInHistory(const history::UpgradeRun& run, const flash::UpgradeReport& report);

} // namespace fieldkit::app
