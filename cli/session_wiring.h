#pragma once

// What the command line hands the session: the board link over its line, and when a run is
// stopping.

#include "cli/board_port.h"
#include "core/stop.h"
#include "session/session.h"

#include <functional>

namespace fieldkit::cli {

// The serial board link over the line's channels, timing the answers by the run's clock.
session::LinkFactory boardLinks(BoardLine& line);

// A run is stopping once Ctrl+C or SIGTERM has come, even before the watch has passed it on
// to the stop (it first cuts a pending answer short).
std::function<bool()> interrupting(const UpgradeStop& stop);

} // namespace fieldkit::cli
