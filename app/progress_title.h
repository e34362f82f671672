#pragma once

#include <optional>
#include <string>

namespace fieldkit::app {

// The document title during an upgrade, " 33.3% Done" for position 1 of 3: tenths of a
// per cent, truncated, computed as the board tool always has in signed 32-bit arithmetic.
// Without pages to count (an upper bound of 0 or below) there is no percentage to show.
std::optional<std::string> progressTitle(int position, int upperBound);

} // namespace fieldkit::app
