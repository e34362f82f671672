#pragma once

// Choosing records of the history and showing them: the filters and the three formats of
// `fieldkit-cli history`, shared with the desktop program's history window.

#include "history/history_file.h"

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace fieldkit::history {

struct Filter {
    std::optional<std::uint32_t> esn;
    std::optional<std::string> since; // UTC, as utcTimestamp writes it
    bool failedOnly = false;          // result "failure"
};

// An ESN as the board screens show it (signed decimal), as stored (unsigned decimal), or hex
// after 0x.
std::optional<std::uint32_t> parseEsn(std::string_view text);
// "2026-03-01" or "2026-03-01T14:05[:09][Z]", in UTC, as utcTimestamp would write it.
std::optional<std::string> parseSince(std::string_view text);

bool matches(const Record& record, const Filter& filter);

// The records that match, newest first.
std::vector<const StoredRecord*> selectRecords(const HistoryContents& contents, const Filter& filter);

// One record as a person reads it.
struct RecordRow {
    std::string time;
    std::string command;
    std::string port;
    std::optional<std::uint32_t> esn;
    std::string esnText; // as the board screens show it
    std::string boardVersion;
    std::string result;
    std::string message; // on one line; for a declined run the question answered No
};
RecordRow rowOf(const Record& record);

// With `showBench`, a BENCH column after the time: for the records of every bench.
void writeTable(std::ostream& out, const std::vector<const StoredRecord*>& records, bool showBench = false);
// Lines of cells in columns (the first line is the header), with the control characters a
// history may hold written out. Every table of the history and its reports is printed by it.
void writeAlignedTable(std::ostream& out, std::vector<std::vector<std::string>> lines);
// Text for a CSV cell. A spreadsheet takes text that begins with = + - @, a tab or a CR for a
// formula, quoted or not, and the board chooses its own version text: such text gets a
// leading apostrophe, which spreadsheets show as text. Numbers are passed as they are.
std::string spreadsheetText(std::string text);
// One CSV line, ended by CR LF, with control characters other than tabs and line breaks
// written out as the table writes them; every CSV file of the history and its reports, local
// or from the shop database, is made of them.
void writeCsvLine(std::ostream& out, const std::vector<std::string>& cells);
void writeCsv(std::ostream& out, const std::vector<const StoredRecord*>& records);
void writeJsonLines(std::ostream& out, const std::vector<const StoredRecord*>& records);

enum class ListFormat { Table, Csv, JsonLines };

// The records that match a filter, newest first, in one of the formats above. It is given the
// records one at a time, in file order, and keeps of each only what it will print: listing a
// long history takes little more memory than the listing itself.
class RecordListing {
public:
    RecordListing(Filter filter, ListFormat format, bool showBench = false);

    // A record and its line as stored, in file order.
    void add(const Record& record, std::string line);
    void write(std::ostream& out);

private:
    struct Entry {
        std::string started;
        std::vector<std::string> cells; // the table's
        std::string line;               // the CSV line with its CR LF, or the stored JSON line
    };

    Filter filter_;
    ListFormat format_;
    bool showBench_;
    std::vector<Entry> entries_;
};

} // namespace fieldkit::history
