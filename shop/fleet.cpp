#include "shop/fleet.h"

#include "history/history_table.h"
#include "link/board_connection.h"

namespace fieldkit::shop {
namespace {

constexpr const char* kColumns[] = {"esn",     "started", "bench",   "command", "board_version",
                                    "firmware_written", "result", "message"};

std::vector<std::string> cellsOf(const FleetLine& line, bool esnAsShown)
{
    return {esnAsShown ? line.esnText : line.esn, line.time, line.bench, line.command, line.boardVersion,
            line.firmwareWritten, line.result, line.message};
}

} // namespace

FleetLine fleetLineOf(const FleetRow& row)
{
    const history::RecordRow recorded = history::rowOf(row.record);
    FleetLine line;
    line.esn = std::to_string(row.esn);
    line.esnText = link::esnTextOf(row.esn);
    line.time = recorded.time;
    line.bench = row.bench;
    line.command = recorded.command;
    line.boardVersion = recorded.boardVersion;
    const auto version = row.record.find("settings_version");
    const auto pages = row.record.find("pages_written");
    if (recorded.command == history::kUpgradeCommand && version != row.record.end() && version->is_string() &&
        pages != row.record.end() && pages->is_number_unsigned() && pages->get<std::uint64_t>() > 0)
        line.firmwareWritten = version->get<std::string>();
    line.result = recorded.result;
    line.message = recorded.message;
    return line;
}

void writeFleetTable(std::ostream& out, const std::vector<FleetRow>& rows)
{
    std::vector<std::vector<std::string>> lines{
        {"ESN", "TIME", "BENCH", "COMMAND", "BOARD VERSION", "FIRMWARE WRITTEN", "RESULT", "MESSAGE"}};
    for (const auto& row : rows)
        lines.push_back(cellsOf(fleetLineOf(row), true));
    history::writeAlignedTable(out, lines);
}

void writeFleetCsv(std::ostream& out, const std::vector<FleetRow>& rows)
{
    history::writeCsvLine(out, {std::begin(kColumns), std::end(kColumns)});
    for (const auto& row : rows) {
        std::vector<std::string> cells = cellsOf(fleetLineOf(row), false);
        for (std::size_t column = 1; column < cells.size(); ++column) // all but the ESN, a number
            cells[column] = history::spreadsheetText(cells[column]);
        history::writeCsvLine(out, cells);
    }
}

void writeFleetJson(std::ostream& out, const std::vector<FleetRow>& rows)
{
    for (const auto& row : rows) {
        const FleetLine line = fleetLineOf(row);
        history::Record object;
        object["esn"] = row.esn;
        const auto cells = cellsOf(line, false);
        for (std::size_t column = 1; column < cells.size(); ++column)
            object[kColumns[column]] = cells[column].empty() ? history::Record() : history::Record(cells[column]);
        out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
    }
}

} // namespace fieldkit::shop
