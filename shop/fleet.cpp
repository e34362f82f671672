#include "shop/fleet.h"

#include "history/history_table.h"
#include "link/board_connection.h"

#include <cmath>
#include <optional>

namespace fieldkit::shop {
namespace {

// A run ends with its push: a record the server took much later waited (an outage, a bench
// that was off), or its bench's clock is slow; one dated after its receipt has a clock ahead.
constexpr double kLateAfterSeconds = 3600;
constexpr double kAheadBySeconds = 300;

struct Column {
    const char* key;     // CSV header and JSON name
    const char* heading; // the table's
    bool number;
};

// A cell: its stored value (none: null), and what the table shows when that differs.
struct Cell {
    std::optional<std::string> value;
    std::optional<std::string> shown;
};

Cell text(const std::string& value)
{
    return {value.empty() ? std::nullopt : std::optional(value), std::nullopt};
}

Cell count(std::size_t value)
{
    return {std::to_string(value), std::nullopt};
}

void writeReport(std::ostream& out, ReportFormat format, const std::vector<Column>& columns,
                 const std::vector<std::vector<Cell>>& rows)
{
    if (format == ReportFormat::Json) {
        for (const auto& row : rows) {
            history::Record object;
            for (std::size_t column = 0; column < columns.size(); ++column) {
                const auto& value = row[column].value;
                object[columns[column].key] = !value                   ? history::Record()
                                              : columns[column].number ? history::Record::parse(*value)
                                                                       : history::Record(*value);
            }
            out << object.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        }
        return;
    }
    std::vector<std::vector<std::string>> lines(1);
    for (const auto& column : columns)
        lines[0].push_back(format == ReportFormat::Table ? column.heading : column.key);
    if (format == ReportFormat::Csv)
        history::writeCsvLine(out, lines[0]);
    for (const auto& row : rows) {
        std::vector<std::string> cells;
        for (std::size_t column = 0; column < columns.size(); ++column) {
            const std::string value = row[column].value.value_or("");
            if (format == ReportFormat::Table)
                cells.push_back(row[column].shown.value_or(value));
            else
                cells.push_back(columns[column].number ? value : history::spreadsheetText(value));
        }
        if (format == ReportFormat::Csv)
            history::writeCsvLine(out, cells);
        else
            lines.push_back(std::move(cells));
    }
    if (format == ReportFormat::Table)
        history::writeAlignedTable(out, lines);
}

std::string durationText(double seconds)
{
    const auto rounded = [](double value) { return std::to_string(static_cast<long long>(std::llround(value))); };
    if (seconds < 2 * 3600)
        return rounded(seconds / 60) + " min";
    if (seconds < 48 * 3600)
        return rounded(seconds / 3600) + " h";
    return rounded(seconds / 86400) + " d";
}

const char* stateKey(FirmwareState state)
{
    switch (state) {
    case FirmwareState::Written: return "written";
    case FirmwareState::Incomplete: return "incomplete";
    case FirmwareState::Read: break;
    }
    return "read";
}

} // namespace

std::string timeNoteOf(double receivedAfterSeconds)
{
    if (receivedAfterSeconds < -kAheadBySeconds)
        return "bench clock ahead " + durationText(-receivedAfterSeconds);
    if (receivedAfterSeconds > kLateAfterSeconds)
        return "arrived " + durationText(receivedAfterSeconds) + " late";
    return {};
}

void writeFleet(std::ostream& out, ReportFormat format, const std::vector<RadioState>& radios)
{
    static const std::vector<Column> columns{
        {"esn", "ESN", true},           {"firmware", "FIRMWARE", false}, {"state", "STATE", false},
        {"started", "STARTED", false},  {"received", "RECEIVED", false},  {"time_note", "TIME NOTE", false},
        {"bench", "BENCH", false},      {"command", "COMMAND", false},   {"result", "RESULT", false},
        {"message", "MESSAGE", false}};
    std::vector<std::vector<Cell>> rows;
    for (const auto& radio : radios) {
        Cell firmware = text(radio.firmware);
        if (radio.state == FirmwareState::Incomplete)
            firmware.shown = "incomplete";
        Cell message = text(radio.message);
        message.shown = history::rowOf(history::Record{{"message", radio.message}}).message;
        rows.push_back({{std::to_string(radio.esn), link::esnTextOf(radio.esn)},
                        firmware,
                        text(stateKey(radio.state)),
                        text(radio.started),
                        text(radio.received),
                        text(timeNoteOf(radio.receivedAfter)),
                        text(radio.bench),
                        text(radio.command),
                        text(radio.result),
                        message});
    }
    writeReport(out, format, columns, rows);
}

void writeFailures(std::ostream& out, ReportFormat format, const std::vector<BenchFailures>& benches)
{
    static const std::vector<Column> columns{
        {"bench", "BENCH", false},         {"runs", "RUNS", true},   {"failures", "FAILURES", true},
        {"after_erase", "AFTER ERASE", true}, {"radios", "RADIOS", true}, {"last_failure", "LAST FAILURE", false},
        {"kinds", "KINDS", false}};
    std::vector<std::vector<Cell>> rows;
    for (const auto& bench : benches)
        rows.push_back({text(bench.bench), count(bench.runs), count(bench.failures), count(bench.afterErase),
                        count(bench.radios), text(bench.lastFailure), text(bench.kinds)});
    writeReport(out, format, columns, rows);
}

} // namespace fieldkit::shop
