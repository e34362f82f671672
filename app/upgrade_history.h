#pragma once

// The desktop program's side of the upgrade history: the warning box when a run was not
// recorded.

#include <string>

#include "session/record.h"

namespace fieldkit::app {

// The text of the warning box the window shows after a run (history::kUpgradeCommand or
// kInfoCommand) whose record could not be written; "" when all went well. The run's outcome
// stands either way.
std::string historyWarning(const char* command, const session::Recorded& recorded);

// Sends what waits to the shop database, once a run's outcome is shown; the text of the
// warning box for what went wrong, "" when nothing did (or no database is named).
std::string shopWarning();

} // namespace fieldkit::app
