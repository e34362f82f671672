#pragma once

// The fleet reports: each radio's state, and the failures at each bench, from the shop
// database, as a table, CSV or JSON Lines.

#include "shop/shop_database.h"

#include <ostream>
#include <string>
#include <vector>

namespace fieldkit::shop {

enum class ReportFormat { Table, Csv, Json };

// A record's time beside the server's receipt, when they are too far apart to trust the order
// of the records by either: "bench clock ahead 26 h", "arrived 3 h late"; else empty.
std::string timeNoteOf(double receivedAfterSeconds);

void writeFleet(std::ostream& out, ReportFormat format, const std::vector<RadioState>& radios);
void writeFailures(std::ostream& out, ReportFormat format, const std::vector<BenchFailures>& benches);

} // namespace fieldkit::shop
