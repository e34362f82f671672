#include "history/history_table.h"

#include "core/column_table.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <utility>

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

// A character of `text` at `at` that a terminal must not be given as it is: C0 controls and
// DEL, C1 controls (which some terminals obey as escape sequences), and the bidirectional
// controls, which reorder the text around them so that a cell reads other than it is. Its
// code and length in bytes.
std::optional<std::pair<unsigned, std::size_t>> controlAt(std::string_view text, std::size_t at)
{
    const auto byte = [&](std::size_t i) { return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0u; };
    if (byte(0) < 0x20 || byte(0) == 0x7F)
        return std::pair{unsigned{byte(0)}, std::size_t{1}};
    if ((byte(0) == 0xC2 && byte(1) >= 0x80 && byte(1) <= 0x9F) || (byte(0) == 0xD8 && byte(1) == 0x9C))
        return std::pair{(byte(0) & 0x1Fu) << 6 | (byte(1) & 0x3Fu), std::size_t{2}};
    if (byte(0) == 0xE2 && (byte(1) & 0xC0) == 0x80 && (byte(2) & 0xC0) == 0x80) {
        const unsigned code = (byte(0) & 0x0Fu) << 12 | (byte(1) & 0x3Fu) << 6 | (byte(2) & 0x3Fu);
        if (code == 0x200E || code == 0x200F || (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069))
            return std::pair{code, std::size_t{3}};
    }
    return std::nullopt;
}

// Text from the file as a terminal may show it: controls written out as \n, \t, \r, \xHH
// or \uHHHH. `keepLayout` keeps tabs and line breaks, which a quoted CSV cell holds as they are.
std::string escapedControls(const std::string& text, bool keepLayout = false)
{
    static constexpr char kHex[] = "0123456789abcdef";
    std::string shown;
    for (std::size_t i = 0; i < text.size();) {
        const auto control = controlAt(text, i);
        if (!control) {
            shown += text[i++];
            continue;
        }
        const auto [code, length] = *control;
        i += length;
        if (keepLayout && (code == '\n' || code == '\t' || code == '\r'))
            shown += static_cast<char>(code);
        else if (code == '\n')
            shown += "\\n";
        else if (code == '\t')
            shown += "\\t";
        else if (code == '\r')
            shown += "\\r";
        else if (length == 1)
            shown += std::string("\\x") + kHex[code >> 4] + kHex[code & 0xF];
        else
            shown += std::string("\\u") + kHex[code >> 12] + kHex[code >> 8 & 0xF] + kHex[code >> 4 & 0xF] + kHex[code & 0xF];
    }
    return shown;
}

// Entries given in file order, newest first. Appended in time order as a rule, but several
// machines may share one file; of two runs started in the same second the later line comes
// first.
template <typename Entries, typename StartedOf>
void newestFirst(Entries& entries, StartedOf startedOf)
{
    using Entry = typename Entries::value_type;
    std::reverse(entries.begin(), entries.end());
    std::stable_sort(entries.begin(), entries.end(),
                     [&startedOf](const Entry& a, const Entry& b) { return startedOf(a) > startedOf(b); });
}

constexpr const char* kCsvColumns[] = {
    "started", "command", "port", "device", "simulated", "esn", "board_version", "settings_version",
    "header_checksum", "result", "failure_kind", "message", "pages_written", "seconds", "host", "user",
    "fieldkit", "bench", "id"};

std::string csvLine(const std::vector<std::string>& cells)
{
    std::string line;
    for (std::size_t column = 0; column < cells.size(); ++column)
        line += (column == 0 ? "" : ",") + csvField(escapedControls(cells[column], true));
    return line + "\r\n";
}

std::vector<std::string> csvCells(const Record& record)
{
    std::vector<std::string> cells;
    for (const char* column : kCsvColumns) {
        const auto found = record.find(column);
        const bool text = found != record.end() && found->is_string();
        cells.push_back(text ? spreadsheetText(textOf(record, column)) : textOf(record, column));
    }
    return cells;
}

std::vector<std::string> tableHeader(bool showBench)
{
    if (showBench)
        return {"TIME", "BENCH", "COMMAND", "PORT", "ESN", "BOARD VERSION", "RESULT", "MESSAGE"};
    return {"TIME", "COMMAND", "PORT", "ESN", "BOARD VERSION", "RESULT", "MESSAGE"};
}

std::vector<std::string> tableCells(const Record& record, bool showBench)
{
    RecordRow row = rowOf(record);
    std::vector<std::string> cells{std::move(row.time), std::move(row.command), std::move(row.port),
                                   std::move(row.esnText), std::move(row.boardVersion), std::move(row.result),
                                   std::move(row.message)};
    if (showBench)
        cells.insert(cells.begin() + 1, benchOf(record));
    return cells;
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
    newestFirst(chosen, [](const StoredRecord* stored) { return textOf(stored->record, "started"); });
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
    std::vector<std::vector<std::string>> lines{tableHeader(showBench)};
    for (const StoredRecord* stored : records)
        lines.push_back(tableCells(stored->record, showBench));
    writeAlignedTable(out, std::move(lines));
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
    writeCsvLine(out, {std::begin(kCsvColumns), std::end(kCsvColumns)});
    for (const StoredRecord* stored : records)
        writeCsvLine(out, csvCells(stored->record));
}

std::string spreadsheetText(std::string text)
{
    if (!text.empty() && std::string_view("=+-@\t\r").find(text.front()) != std::string_view::npos)
        text.insert(0, 1, '\'');
    return text;
}

void writeCsvLine(std::ostream& out, const std::vector<std::string>& cells)
{
    out << csvLine(cells);
}

void writeJsonLines(std::ostream& out, const std::vector<const StoredRecord*>& records)
{
    for (const StoredRecord* stored : records)
        out << stored->line << '\n';
}

RecordListing::RecordListing(Filter filter, ListFormat format, bool showBench)
    : filter_(std::move(filter)), format_(format), showBench_(showBench)
{
}

void RecordListing::add(const Record& record, std::string line)
{
    if (!matches(record, filter_))
        return;
    Entry entry{textOf(record, "started"), {}, {}};
    switch (format_) {
    case ListFormat::Table: entry.cells = tableCells(record, showBench_); break;
    case ListFormat::Csv: entry.line = csvLine(csvCells(record)); break;
    case ListFormat::JsonLines: entry.line = std::move(line); break;
    }
    entries_.push_back(std::move(entry));
}

void RecordListing::write(std::ostream& out)
{
    newestFirst(entries_, [](const Entry& entry) -> const std::string& { return entry.started; });
    if (format_ == ListFormat::Table) {
        std::vector<std::vector<std::string>> lines{tableHeader(showBench_)};
        lines.reserve(entries_.size() + 1);
        for (Entry& entry : entries_)
            lines.push_back(std::move(entry.cells));
        entries_.clear();
        writeAlignedTable(out, std::move(lines));
        return;
    }
    if (format_ == ListFormat::Csv)
        writeCsvLine(out, {std::begin(kCsvColumns), std::end(kCsvColumns)});
    for (const Entry& entry : entries_)
        out << entry.line << (format_ == ListFormat::JsonLines ? "\n" : "");
}

} // namespace fieldkit::history
