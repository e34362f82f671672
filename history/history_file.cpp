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

HistoryContents parseHistory(std::string_view text)
{
    HistoryContents contents;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t end = text.find('\n', begin);
        if (end == std::string_view::npos) {
            // A last line without its newline: a write that did not finish.
            ++contents.skippedLines;
            break;
        }
        std::string line(text.substr(begin, end - begin));
        begin = end + 1;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        Record record = parseRecordLine(line);
        if (record.is_discarded() || !isRecord(record)) {
            ++contents.skippedLines;
            continue;
        }
        contents.records.push_back({std::move(record), std::move(line)});
    }
    return contents;
}

std::optional<HistoryContents> readHistory(const std::filesystem::path& file, std::string* error)
{
    std::error_code status;
    if (!std::filesystem::exists(file, status) && !status)
        return HistoryContents{};
    std::string text;
    if (auto failure = platform::readWholeFile(file, text)) {
        *error = std::move(*failure);
        return std::nullopt;
    }
    return parseHistory(text);
}

} // namespace fieldkit::history
