#include "history/history_table.h"

#include "core/column_table.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <string_view>

namespace fieldkit::history {
namespace {

// A field as text: strings as they are, numbers and flags written out, null or missing empty.
std::string textOf(const Record& record, const char* key)
{
    const auto found = record.find(key);
    if (found == record.end() || found->is_null())
        return {};
    if (found->is_string())
        return found->get<std::string>();
    return found->dump();
}

template <typename Number>
std::optional<Number> numberIn(std::string_view text, int base = 10)
{
    Number value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return value;
}

std::optional<int> digitsIn(std::string_view text, std::size_t at, std::size_t count, int lowest, int highest)
{
    if (text.size() < at + count)
        return std::nullopt;
    const auto part = text.substr(at, count);
    if (!std::all_of(part.begin(), part.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    const auto value = numberIn<int>(part);
    if (!value || *value < lowest || *value > highest)
        return std::nullopt;
    return value;
}

std::string oneLine(std::string text)
{
    std::string result;
    bool pendingSpace = false;
    for (const char c : text) {
        if (c == '\n' || c == '\r') {
            pendingSpace = !result.empty();
            continue;
        }
        if (pendingSpace)
            result += ' ';
        pendingSpace = false;
        result += c;
    }
    return result;
}

std::string csvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (const char c : text) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

// Text from the file as a terminal may show it: control characters, C1 ones included
// (which some terminals obey as escape sequences), written out as \n, \t, \r or \xHH.
// `keepLayout` keeps tabs and line breaks, which a quoted CSV cell holds as they are.
std::string escapedControls(const std::string& text, bool keepLayout = false)
{
    std::string shown;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool c1 = c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (keepLayout && (c == '\n' || c == '\t' || c == '\r'))
            shown += text[i];
        else if (c == '\n')
            shown += "\\n";
        else if (c == '\t')
            shown += "\\t";
        else if (c == '\r')
            shown += "\\r";
        else if (c < 0x20 || c == 0x7F || c1) {
            const unsigned code = c1 ? static_cast<unsigned char>(text[++i]) : c;
            static constexpr char kHex[] = "0123456789abcdef";
            shown += std::string(c1 ? "\\u00" : "\\x") + kHex[code >> 4] + kHex[code & 0xF];
        } else
            shown += text[i];
    }
    return shown;
}

} // namespace

std::optional<std::uint32_t> parseEsn(std::string_view text)
{
    if (text.starts_with('-')) {
        const auto magnitude = numberIn<std::uint64_t>(text.substr(1));
        if (!magnitude || *magnitude == 0 || *magnitude > 0x80000000u)
            return std::nullopt;
        return static_cast<std::uint32_t>(0x100000000u - *magnitude);
    }
    if (text.starts_with("0x") || text.starts_with("0X"))
        return numberIn<std::uint32_t>(text.substr(2), 16);
    return numberIn<std::uint32_t>(text);
}

std::optional<std::string> parseSince(std::string_view text)
{
    const auto year = digitsIn(text, 0, 4, 1970, 9999);
    const auto month = digitsIn(text, 5, 2, 1, 12);
    const auto day = digitsIn(text, 8, 2, 1, 31);
    if (!year || !month || !day || text[4] != '-' || text[7] != '-' ||
        !std::chrono::year_month_day(std::chrono::year(*year), std::chrono::month(static_cast<unsigned>(*month)),
                                     std::chrono::day(static_cast<unsigned>(*day)))
             .ok()) // 2026-02-30 is no day
        return std::nullopt;
    std::string time = "00:00:00";
    if (text.size() > 10) {
        if (text[10] != 'T' && text[10] != ' ')
            return std::nullopt;
        std::string_view clock = text.substr(11);
        if (clock.ends_with('Z'))
            clock.remove_suffix(1);
        const bool withSeconds = clock.size() == 8;
        if ((clock.size() != 5 && !withSeconds) || !digitsIn(clock, 0, 2, 0, 23) || clock[2] != ':' ||
            !digitsIn(clock, 3, 2, 0, 59) || (withSeconds && (clock[5] != ':' || !digitsIn(clock, 6, 2, 0, 59))))
            return std::nullopt;
        time = std::string(clock) + (withSeconds ? "" : ":00");
    }
    return std::string(text.substr(0, 10)) + 'T' + time + 'Z';
}

bool matches(const Record& record, const Filter& filter)
{
    if (filter.esn) {
        const auto esn = record.find("esn");
        if (esn == record.end() || !esn->is_number_unsigned() || esn->get<std::uint64_t>() != *filter.esn)
            return false;
    }
    if (filter.since && textOf(record, "started") < *filter.since)
        return false;
    return !filter.failedOnly || textOf(record, "result") == "failure";
}

std::vector<const StoredRecord*> selectRecords(const HistoryContents& contents, const Filter& filter)
{
    std::vector<const StoredRecord*> chosen;
    for (const auto& stored : contents.records)
        if (matches(stored.record, filter))
            chosen.push_back(&stored);
    // Appended in time order as a rule, but several machines may share one file; of two
    // runs started in the same second the later line comes first.
    std::reverse(chosen.begin(), chosen.end());
    std::stable_sort(chosen.begin(), chosen.end(), [](const StoredRecord* a, const StoredRecord* b) {
        return textOf(a->record, "started") > textOf(b->record, "started");
    });
    return chosen;
}

RecordRow rowOf(const Record& record)
{
    RecordRow row;
    row.time = textOf(record, "started");
    row.command = textOf(record, "command");
    row.port = textOf(record, "port");
    if (const auto esn = record.find("esn"); esn != record.end() && esn->is_number_unsigned() &&
                                             esn->get<std::uint64_t>() <= UINT32_MAX) {
        row.esn = esn->get<std::uint32_t>();
        row.esnText = link::esnTextOf(*row.esn);
    }
    row.boardVersion = textOf(record, "board_version");
    row.result = textOf(record, "result");
    row.message = oneLine(textOf(record, "message"));
    const auto questions = record.find("questions");
    if (row.result == "declined" && row.message.empty() && questions != record.end() && questions->is_array() &&
        !questions->empty() && questions->back().is_object())
        row.message = "answered No: " + textOf(questions->back(), "kind");
    return row;
}

void writeTable(std::ostream& out, const std::vector<const StoredRecord*>& records, bool showBench)
{
    std::vector<std::vector<std::string>> lines{{"TIME", "COMMAND", "PORT", "ESN", "BOARD VERSION", "RESULT", "MESSAGE"}};
    for (const StoredRecord* stored : records) {
        const RecordRow row = rowOf(stored->record);
        lines.push_back({row.time, row.command, row.port, row.esnText, row.boardVersion, row.result, row.message});
    }
    if (showBench) {
        lines[0].insert(lines[0].begin() + 1, "BENCH");
        for (std::size_t line = 1; line < lines.size(); ++line)
            lines[line].insert(lines[line].begin() + 1, benchOf(records[line - 1]->record));
    }
    writeAlignedTable(out, lines);
}

void writeAlignedTable(std::ostream& out, std::vector<std::vector<std::string>> lines)
{
    for (auto& line : lines)
        for (std::string& cell : line)
            cell = escapedControls(cell);
    writeColumns(out, lines);
}

void writeCsv(std::ostream& out, const std::vector<const StoredRecord*>& records)
{
    static constexpr const char* kColumns[] = {"started",       "command",       "port",    "device",
                                               "simulated",     "esn",           "board_version",
                                               "settings_version", "header_checksum", "result",
                                               "failure_kind",  "message",       "pages_written",
                                               "seconds",       "host",          "user",    "fieldkit",
                                               "bench",         "id"};
    writeCsvLine(out, {std::begin(kColumns), std::end(kColumns)});
    for (const StoredRecord* stored : records) {
        std::vector<std::string> cells;
        for (const char* column : kColumns) {
            const auto found = stored->record.find(column);
            const bool text = found != stored->record.end() && found->is_string();
            cells.push_back(text ? spreadsheetText(textOf(stored->record, column)) : textOf(stored->record, column));
        }
        writeCsvLine(out, cells);
    }
}

std::string spreadsheetText(std::string text)
{
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        text.insert(0, 1, '\'');
    return text;
}

void writeCsvLine(std::ostream& out, const std::vector<std::string>& cells)
{
    std::string line;
    for (std::size_t column = 0; column < cells.size(); ++column)
        line += (column == 0 ? "" : ",") + csvField(escapedControls(cells[column], true));
    out << line << "\r\n";
}

void writeJsonLines(std::ostream& out, const std::vector<const StoredRecord*>& records)
{
    for (const StoredRecord* stored : records)
        out << stored->line << '\n';
}

} // namespace fieldkit::history
