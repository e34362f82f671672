#pragma once

// The history reader and its views against arbitrary file contents: the history may sit on a
// shared folder that anyone writes.
//
// The input is the whole file. What the history module promises, and the harness checks:
//   - every record kept is a record, on a line of its own, that parses back to itself, and
//     every other non-empty line is counted as skipped;
//   - the table has one line per record under its title line and shows no control character
//     of the file: no byte below 0x20 but its line ends, no DEL, no C1 character;
//   - the CSV has one row per record under its header, and a cell starts with one of
//     = + - @ tab or carriage return only where the record holds a number.

#include "fuzz/finding.h"
#include "history/history_file.h"
#include "history/history_table.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace fieldkit::fuzz {

// The cells of CSV text, row by row: quoted cells may hold commas, quotes and line ends.
inline std::vector<std::vector<std::string>> csvRows(std::string_view text)
{
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(1));
    bool quoted = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (quoted && c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
            rows.back().back() += '"';
            ++i;
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == ',') {
            rows.back().emplace_back();
        } else if (!quoted && c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            rows.emplace_back(1);
            ++i;
        } else {
            rows.back().back() += c;
        }
    }
    rows.pop_back(); // after the last row's line end
    return rows;
}

inline void replayHistoryFile(std::span<const std::uint8_t> input)
{
    const std::string_view text(reinterpret_cast<const char*>(input.data()), input.size());
    const history::HistoryContents contents = history::parseHistory(text);

    std::size_t lines = 0;
    for (std::size_t begin = 0; begin < text.size();) {
        const auto end = text.find('\n', begin);
        auto line = text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        lines += !line.empty() || end == std::string_view::npos; // a torn last line counts whatever it holds
        begin = end == std::string_view::npos ? text.size() : end + 1;
    }
    require(contents.records.size() + contents.skippedLines == lines, "every non-empty line is a record or skipped");
    for (const auto& stored : contents.records) {
        require(history::isRecord(stored.record), "a kept record has the fields of a record");
        require(stored.line.find('\n') == std::string::npos, "a record's line is one line");
        require(history::Record::parse(stored.line, nullptr, false) == stored.record, "a line parses to its record");
    }

    const auto chosen = history::selectRecords(contents, {});
    require(chosen.size() == contents.records.size(), "no filter chooses every record");

    std::ostringstream table;
    history::writeTable(table, chosen);
    const std::string shown = table.str();
    require(static_cast<std::size_t>(std::count(shown.begin(), shown.end(), '\n')) == chosen.size() + 1,
            "the table has a line per record under its title");
    for (std::size_t i = 0; i < shown.size(); ++i) {
        const auto c = static_cast<unsigned char>(shown[i]);
        const bool c1 = c == 0xC2 && i + 1 < shown.size() && static_cast<unsigned char>(shown[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(shown[i + 1]) <= 0x9F;
        require((c >= 0x20 || c == '\n') && c != 0x7F && !c1, "the table shows no control character");
    }
    for (const std::string_view reordering : {"\xD8\x9C", "\xE2\x80\x8E", "\xE2\x80\x8F", "\xE2\x80\xAA", "\xE2\x80\xAB",
                                              "\xE2\x80\xAC", "\xE2\x80\xAD", "\xE2\x80\xAE", "\xE2\x81\xA6", "\xE2\x81\xA7",
                                              "\xE2\x81\xA8", "\xE2\x81\xA9"})
        require(shown.find(reordering) == std::string::npos, "the table shows no bidirectional control");

    std::ostringstream csv;
    history::writeCsv(csv, chosen);
    const auto rows = csvRows(csv.str());
    require(rows.size() == chosen.size() + 1, "the CSV has a row per record under its header");
    for (std::size_t row = 1; row < rows.size(); ++row) {
        require(rows[row].size() == rows[0].size(), "every CSV row has every column");
        for (std::size_t column = 0; column < rows[row].size(); ++column) {
            const std::string& cell = rows[row][column];
            if (cell.empty() || std::string_view("=+-@\t\r").find(cell.front()) == std::string_view::npos)
                continue;
            const auto& record = chosen[row - 1]->record;
            const auto value = record.find(rows[0][column]);
            require(value != record.end() && value->is_number(), "a CSV cell starts a formula only for a number");
        }
    }
}

} // namespace fieldkit::fuzz
