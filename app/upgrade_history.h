#pragma once

// The desktop program's side of the upgrade history: the warning box when a run was not
// recorded.

#include <string>

#include "session/record.h"

namespace fieldkit::app {

// The text of the warning box the window shows after a run (history::kUpgradeCommand or
// kInfoCommand) whose record could not be written or sent to the shop database: the session's
// warnings, a paragraph each; "" when all went well. The run's outcome stands either way.
std::string historyWarning(const char* command, const session::Recorded& recorded);

} // namespace fieldkit::app
