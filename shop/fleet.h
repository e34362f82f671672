#pragma once

// The fleet report: one line per radio with its latest run anywhere in the shop.

#include "shop/shop_database.h"

#include <ostream>
#include <string>
#include <vector>

namespace fieldkit::shop {

struct FleetLine {
    std::string esn;     // as stored (unsigned)
    std::string esnText; // as the board screens show it
    std::string time;
    std::string bench;
    std::string command;
    std::string boardVersion;    // read from the board before the run
    std::string firmwareWritten; // the settings' version, for an upgrade that wrote pages
    std::string result;
    std::string message; // on one line
};

FleetLine fleetLineOf(const FleetRow& row);

void writeFleetTable(std::ostream& out, const std::vector<FleetRow>& rows);
void writeFleetCsv(std::ostream& out, const std::vector<FleetRow>& rows);
// One JSON object per line, the stored values under the CSV's column names.
void writeFleetJson(std::ostream& out, const std::vector<FleetRow>& rows);

} // namespace fieldkit::shop
