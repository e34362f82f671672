// Choosing and showing records: the filters, the ESN and date forms technicians type, and
// the table, CSV and JSON Lines formats.

#include "history/history_table.h"

#include <gtest/gtest.h>

#include <sstream>

namespace fieldkit::history {
namespace {

StoredRecord stored(const char* started, const char* result, std::optional<std::uint32_t> esn, const char* message)
{
    Record record;
    record["schema"] = kSchemaVersion;
    record["command"] = "upgrade";
    record["started"] = started;
    record["port"] = "COM1";
    record["esn"] = esn ? Record(*esn) : Record();
    record["board_version"] = "R07.12.00";
    record["questions"] = Record::array();
    record["result"] = result;
    record["message"] = message != nullptr ? Record(message) : Record();
    return {record, record.dump()};
}

// In file order; the first two share a second.
const HistoryContents kContents{{
    stored("2026-03-01T09:00:00Z", "success", 305419896, nullptr),
    stored("2026-03-01T09:00:00Z", "failure", 305419896, "Failed to erase block 8.\n\nPlease turn the radio off"),
    stored("2026-02-27T16:30:00Z", "failure", std::nullopt, "Failed to communicate, \"twice\""),
    stored("2026-03-02T08:00:00Z", "declined", 2147483648u, nullptr),
}, 0};

struct FilterRow {
    const char* name;
    std::optional<std::uint32_t> esn;
    const char* since;
    bool failedOnly;
    std::vector<int> chosen; // indexes into kContents, newest first
};

class HistoryFilter : public ::testing::TestWithParam<FilterRow> {};

TEST_P(HistoryFilter, ChoosesNewestFirst)
{
    const FilterRow& row = GetParam();
    Filter filter;
    filter.esn = row.esn;
    if (row.since != nullptr)
        filter.since = row.since;
    filter.failedOnly = row.failedOnly;
    std::vector<int> chosen;
    std::string lines;
    for (const StoredRecord* record : selectRecords(kContents, filter)) {
        chosen.push_back(static_cast<int>(record - kContents.records.data()));
        lines += record->line + '\n';
    }
    EXPECT_EQ(chosen, GetParam().chosen);

    // The command line's listing, given the records one at a time in file order, chooses the same.
    RecordListing listing(filter, ListFormat::JsonLines);
    for (const StoredRecord& stored : kContents.records)
        listing.add(stored.record, stored.line);
    std::ostringstream listed;
    listing.write(listed);
    EXPECT_EQ(listed.str(), lines);
}

INSTANTIATE_TEST_SUITE_P(
    Filters, HistoryFilter,
    ::testing::Values(FilterRow{"All", std::nullopt, nullptr, false, {3, 1, 0, 2}},
                      FilterRow{"Esn", 305419896u, nullptr, false, {1, 0}},
                      FilterRow{"EsnNeverRead", 1u, nullptr, false, {}},
                      FilterRow{"Since", std::nullopt, "2026-03-01T09:00:00Z", false, {3, 1, 0}},
                      FilterRow{"SinceLater", std::nullopt, "2026-03-01T09:00:01Z", false, {3}},
                      FilterRow{"Failed", std::nullopt, nullptr, true, {1, 2}},
                      FilterRow{"EsnSinceAndFailed", 305419896u, "2026-02-01T00:00:00Z", true, {1}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HistoryOptions, EsnsAndDatesAsTechniciansTypeThem)
{
    const std::vector<std::pair<const char*, std::optional<std::uint32_t>>> esns = {
        {"305419896", 305419896u}, {"-2147483648", 2147483648u}, {"-1", 4294967295u}, {"0x12345678", 305419896u},
        {"4294967295", 4294967295u}, {"4294967296", std::nullopt}, {"-2147483649", std::nullopt},
        {"-0", std::nullopt}, {"12a", std::nullopt}, {"", std::nullopt}, {"0x", std::nullopt}};
    for (const auto& [text, esn] : esns)
        EXPECT_EQ(parseEsn(text), esn) << text;

    const std::vector<std::pair<const char*, std::optional<std::string>>> dates = {
        {"2026-03-01", "2026-03-01T00:00:00Z"}, {"2026-03-01T14:05", "2026-03-01T14:05:00Z"},
        {"2026-03-01 14:05:09", "2026-03-01T14:05:09Z"}, {"2026-03-01T14:05:09Z", "2026-03-01T14:05:09Z"},
        {"2026-13-01", std::nullopt}, {"2026-03-32", std::nullopt}, {"2026-02-30", std::nullopt},
        {"2026-04-31T08:00:00Z", std::nullopt}, {"2028-02-29", "2028-02-29T00:00:00Z"}, {"2026-3-1", std::nullopt},
        {"2026-03-01T24:00", std::nullopt}, {"2026-03-01T14", std::nullopt}, {"yesterday", std::nullopt},
        {"2026-03-01x", std::nullopt}};
    for (const auto& [text, date] : dates)
        EXPECT_EQ(parseSince(text), date) << text;
}

TEST(HistoryFormats, TableCsvAndJsonLines)
{
    const auto chosen = selectRecords(kContents, {});

    std::ostringstream table;
    writeTable(table, chosen);
    EXPECT_EQ(table.str(),
              "TIME                  COMMAND  PORT  ESN          BOARD VERSION  RESULT    MESSAGE\n"
              "2026-03-02T08:00:00Z  upgrade  COM1  -2147483648  R07.12.00      declined\n"
              "2026-03-01T09:00:00Z  upgrade  COM1  305419896    R07.12.00      failure   Failed to erase block 8. Please turn the radio off\n"
              "2026-03-01T09:00:00Z  upgrade  COM1  305419896    R07.12.00      success\n"
              "2026-02-27T16:30:00Z  upgrade  COM1               R07.12.00      failure   Failed to communicate, \"twice\"\n");

    // Every bench's records: the bench (or, for older records, the host) after the time.
    std::ostringstream benches;
    writeTable(benches, {chosen[0]}, true);
    EXPECT_EQ(benches.str(), "TIME                  BENCH  COMMAND  PORT  ESN          BOARD VERSION  RESULT    MESSAGE\n"
                             "2026-03-02T08:00:00Z         upgrade  COM1  -2147483648  R07.12.00      declined\n");

    std::ostringstream csv;
    writeCsv(csv, chosen);
    const std::string text = csv.str();
    EXPECT_EQ(text.substr(0, text.find("\r\n")),
              "started,command,port,device,simulated,esn,board_version,settings_version,header_checksum,result,"
              "failure_kind,message,pages_written,seconds,host,user,fieldkit,bench,id");
    EXPECT_NE(text.find("\r\n2026-03-02T08:00:00Z,upgrade,COM1,,,2147483648,R07.12.00,,,declined,,,,,,,,,\r\n"),
              std::string::npos) << text;
    EXPECT_NE(text.find(",failure,,\"Failed to erase block 8.\n\nPlease turn the radio off\","), std::string::npos);
    EXPECT_NE(text.find(",\"Failed to communicate, \"\"twice\"\"\","), std::string::npos);

    std::ostringstream json;
    writeJsonLines(json, chosen);
    std::string expected;
    for (const StoredRecord* record : chosen)
        expected += record->line + '\n';
    EXPECT_EQ(json.str(), expected);
    EXPECT_EQ(chosen.front()->line, kContents.records[3].line);

    // The command line's listing writes each format as the functions above do.
    for (const auto& [format, written] : {std::pair{ListFormat::Table, table.str()}, std::pair{ListFormat::Csv, text},
                                          std::pair{ListFormat::JsonLines, json.str()}}) {
        RecordListing listing({}, format);
        for (const StoredRecord& stored : kContents.records)
            listing.add(stored.record, stored.line);
        std::ostringstream listed;
        listing.write(listed);
        EXPECT_EQ(listed.str(), written);
    }
}

TEST(HistoryFormats, TableColumnsAreAsWideAsTheyShowNotAsTheirBytes)
{
    std::ostringstream table;
    writeAlignedTable(table, {{"BENCH", "USER"},
                              {"Pr\xC3\xBC" "fstand", "a"},         // two bytes, one column
                              {"\xE5\x8C\x97\xE5\xBA\x97", "b"},  // two wide characters, four columns
                              {"Cafe\xCC\x81", "c"},                // a combining accent, no column
                              {"\xE2\x80\xAE" "evil", "d"}});          // a bidirectional override, written out
    EXPECT_EQ(table.str(), "BENCH       USER\n"
                           "Pr\xC3\xBC" "fstand   a\n"
                           "\xE5\x8C\x97\xE5\xBA\x97        b\n"
                           "Cafe\xCC\x81        c\n"
                           "\\u202eevil  d\n");
}

// A value from the file as a CSV cell and as a table cell.
struct CellRow {
    const char* name;
    const char* key;
    Record value;
    std::string csv;
    std::string table;
};

class HistoryCell : public ::testing::TestWithParam<CellRow> {};

TEST_P(HistoryCell, CsvDisarmsFormulasAndTheTableEscapesControlCharacters)
{
    StoredRecord one = stored("2026-03-01T09:00:00Z", "failure", std::nullopt, nullptr);
    one.record[GetParam().key] = GetParam().value;
    std::ostringstream csv;
    writeCsv(csv, {&one});
    EXPECT_NE(csv.str().find(',' + GetParam().csv + ','), std::string::npos) << csv.str();
    std::ostringstream table;
    writeTable(table, {&one});
    EXPECT_NE(table.str().find("  " + GetParam().table), std::string::npos) << table.str();
}

INSTANTIATE_TEST_SUITE_P(
    Cells, HistoryCell,
    ::testing::Values(CellRow{"Equals", "board_version", "=1+2", "'=1+2", "=1+2"},
                      CellRow{"Plus", "board_version", "+1", "'+1", "+1"},
                      CellRow{"Minus", "board_version", "-1", "'-1", "-1"},
                      CellRow{"At", "board_version", "@SUM(A1)", "'@SUM(A1)", "@SUM(A1)"},
                      CellRow{"Tab", "board_version", "\t=1", "'\t=1", "\\t=1"},
                      CellRow{"CarriageReturn", "board_version", "\r=1", "\"'\r=1\"", "\\r=1"},
                      CellRow{"InnerSignsStay", "board_version", "R07-1=2", "R07-1=2", "R07-1=2"},
                      CellRow{"NegativeNumberStaysANumber", "esn", -2147483648LL, "-2147483648", "failure"},
                      CellRow{"EscapeAndBell", "board_version", "\x1b[2J\a", "\\x1b[2J\\x07", "\\x1b[2J\\x07"},
                      CellRow{"NewlineAndC1", "board_version", "R0\n\xC2\x9B", "\"R0\n\\u009b\"", "R0\\n\\u009b"},
                      // Bidirectional controls would make the rest of the line read backwards.
                      CellRow{"RightToLeftOverride", "board_version", "R07\xE2\x80\xAE" "00.21", "R07\\u202e00.21",
                              "R07\\u202e00.21"},
                      CellRow{"IsolatesAndMarks", "board_version", "\xE2\x81\xA6R\xE2\x81\xA9\xE2\x80\x8F\xD8\x9C",
                              "\\u2066R\\u2069\\u200f\\u061c", "\\u2066R\\u2069\\u200f\\u061c"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HistoryFormats, ADeclinedRunShowsTheQuestionAnsweredNo)
{
    StoredRecord declined = stored("2026-03-02T08:00:00Z", "declined", std::nullopt, nullptr);
    declined.record["questions"] = Record::parse(R"([{"kind":"incompatible_firmware","answer":"no"}])");
    EXPECT_EQ(rowOf(declined.record).message, "answered No: incompatible_firmware");
}

} // namespace
} // namespace fieldkit::history
