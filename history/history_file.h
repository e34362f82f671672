#pragma once

// The history file: JSON Lines, one record per line, only ever appended to.

#include "history/history_record.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldkit::history {

// $FIELDKIT_HISTORY when set, else history.jsonl in the user's data folder
// ($XDG_DATA_HOME/fieldkit or ~/.local/share/fieldkit; %LOCALAPPDATA%\FieldKit on Windows).
std::filesystem::path historyFile();

// Appends the record as one line, creating the file and its folder when missing, and has it
// on the disk when it returns. The reason, when it could not.
std::optional<std::string> appendRecord(const std::filesystem::path& file, const Record& record);

struct StoredRecord {
    Record record;
    std::string line; // as stored, without its newline
};

struct HistoryContents {
    std::vector<StoredRecord> records; // in file order
    std::size_t skippedLines = 0;      // a torn last line, or lines that are not records
};

// The records of a history file's text, with what is not a whole record counted.
HistoryContents parseHistory(std::string_view text);

// Reads the whole file; never changes it. A file that does not exist holds no records.
// Nothing, with `error` set, when the file cannot be read.
std::optional<HistoryContents> readHistory(const std::filesystem::path& file, std::string* error);

// Receives the records of a history one at a time, in file order.
using RecordSink = std::function<void(Record&& record, std::string&& line)>;

// Reads the file as readHistory does, but hands each record to `take` as soon as its line is
// read and keeps nothing itself: a long history costs only what `take` keeps of it. The
// number of lines that are not whole records, or nothing, with `error` set, when the file
// cannot be read.
std::optional<std::size_t> readRecords(const std::filesystem::path& file, const RecordSink& take,
                                       std::string* error);

} // namespace fieldkit::history
