#include "history/history_file.h"

#include "history/history_platform.h"

#include <cstdlib>
#include <system_error>

namespace fieldkit::history {

std::filesystem::path historyFile()
{
    if (const char* chosen = std::getenv("FIELDKIT_HISTORY"); chosen != nullptr && *chosen != '\0')
        return chosen;
    return platform::defaultHistoryFile();
}

std::optional<std::string> appendRecord(const std::filesystem::path& file, const Record& record)
{
    if (file.empty())
        return std::string("no folder for the history was found (HOME is not set)");
    std::error_code error;
    if (file.has_parent_path() && !std::filesystem::is_directory(file.parent_path(), error)) {
        std::filesystem::create_directories(file.parent_path(), error);
        if (error)
            return file.parent_path().string() + ": " + error.message();
    }
    // Texts from the system may not be UTF-8; the line must be.
    const std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + '\n';
    return platform::appendLine(file, line);
}

namespace {

// Cuts the pieces of a history into lines and parses each into a record as it is completed.
class LineParser {
public:
    explicit LineParser(const RecordSink& take) : take_(take) {}

    void piece(std::string_view text)
    {
        for (;;) {
            const std::size_t end = text.find('\n');
            if (end == std::string_view::npos) {
                pending_.append(text);
                return;
            }
            pending_.append(text.substr(0, end));
            text.remove_prefix(end + 1);
            line(std::move(pending_));
            pending_ = {};
        }
    }

    // A last line without its newline is a write that did not finish.
    std::size_t finish()
    {
        if (!pending_.empty())
            ++skipped_;
        return skipped_;
    }

private:
    void line(std::string text)
    {
        if (!text.empty() && text.back() == '\r')
            text.pop_back();
        if (text.empty())
            return;
        Record record = parseRecordLine(text);
        if (record.is_discarded() || !isRecord(record)) {
            ++skipped_;
            return;
        }
        text.shrink_to_fit();
        take_(std::move(record), std::move(text));
    }

    const RecordSink& take_;
    std::string pending_;
    std::size_t skipped_ = 0;
};

RecordSink collectInto(HistoryContents& contents)
{
    return [&contents](Record&& record, std::string&& line) {
        contents.records.push_back({std::move(record), std::move(line)});
    };
}

} // namespace

HistoryContents parseHistory(std::string_view text)
{
    HistoryContents contents;
    const RecordSink collect = collectInto(contents);
    LineParser parser(collect);
    parser.piece(text);
    contents.skippedLines = parser.finish();
    return contents;
}

std::optional<std::size_t> readRecords(const std::filesystem::path& file, const RecordSink& take, std::string* error)
{
    std::error_code status;
    if (!std::filesystem::exists(file, status) && !status)
        return 0;
    LineParser parser(take);
    if (auto failure = platform::readInPieces(file, [&parser](std::string_view piece) { parser.piece(piece); })) {
        *error = std::move(*failure);
        return std::nullopt;
    }
    return parser.finish();
}

std::optional<HistoryContents> readHistory(const std::filesystem::path& file, std::string* error)
{
    HistoryContents contents;
    const auto skipped = readRecords(file, collectInto(contents), error);
    if (!skipped)
        return std::nullopt;
    contents.skippedLines = *skipped;
    return contents;
}

} // namespace fieldkit::history
