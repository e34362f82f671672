#pragma once

#include <optional>
#include <string>

namespace fieldkit {

// How far an upgrade is, as the main window's caption shows it: " 33.3% Done" for position 1
// of 3 — tenths of a per cent, truncated, in signed 32-bit arithmetic. Without pages to count
// (an upper bound of 0 or below) there is no percentage to show.
std::optional<std::string> progressTitle(int position, int upperBound);

} // namespace fieldkit
