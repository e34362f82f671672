#include "shop/outbox.h"

#include "core/atomic_file.h"
#include "history/history_record.h"
#include "history/history_table.h"

#include <fstream>

namespace fieldkit::shop {
namespace {

struct SentNote {
    std::string databaseId;
    std::size_t records = 0; // the first this many records of the file are stored
    std::string lastId;      // the id of the last of them, so a replaced file is noticed
};

SentNote readNote(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    const auto note = nlohmann::json::parse(in, nullptr, false);
    if (note.is_discarded() || !note.is_object() || !note.value("database_id", nlohmann::json()).is_string() ||
        !note.value("records", nlohmann::json()).is_number_unsigned() || !note.value("last_id", nlohmann::json()).is_string())
        return {};
    return {note["database_id"].get<std::string>(), note["records"].get<std::size_t>(), note["last_id"].get<std::string>()};
}

void writeNote(const std::filesystem::path& file, const SentNote& note)
{
    const std::string text =
        nlohmann::json{{"database_id", note.databaseId}, {"records", note.records}, {"last_id", note.lastId}}.dump() + '\n';
    // A note that cannot be written only means the records are sent again next time.
    replaceFile(file, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, Durability::OnDisk);
}

// The database's text type cannot hold a NUL character.
void replaceNuls(history::Record& value)
{
    if (value.is_string()) {
        auto& text = value.get_ref<std::string&>();
        for (std::size_t at = text.find('\0'); at != std::string::npos; at = text.find('\0', at))
            text.replace(at, 1, "\xEF\xBF\xBD");
    } else if (value.is_structured()) {
        for (auto& item : value)
            replaceNuls(item);
    }
}

} // namespace

std::filesystem::path sentNoteFile(const std::filesystem::path& historyFile)
{
    auto note = historyFile;
    note += ".sent";
    return note;
}

PushReport pushWaitingRecords(const std::filesystem::path& historyFile, const std::string& connection, Clock& clock,
                              Bounds bounds)
{
    PushReport report;
    std::string error;
    const auto contents = history::readHistory(historyFile, &error);
    if (!contents) {
        report.failure = Failure{FailureKind::LocalFile, "the history cannot be read: " + error};
        return report;
    }
    report.skippedLines = contents->skippedLines;

    Database database(clock, bounds);
    if ((report.failure = database.open(connection)))
        return report;

    const auto& records = contents->records;
    const auto noteFile = sentNoteFile(historyFile);
    SentNote note = readNote(noteFile);
    const bool noteHolds = note.databaseId == database.databaseId() && note.records <= records.size() &&
                           note.records > 0 &&
                           history::recordIdOf(records[note.records - 1].record, records[note.records - 1].line) == note.lastId;
    std::size_t confirmed = noteHolds ? note.records : 0;

    nlohmann::json batch = nlohmann::json::array();
    std::size_t next = confirmed;
    while (next < records.size()) {
        const auto& stored = records[next++];
        const auto started = history::parseSince(stored.record["started"].get<std::string>());
        if (!started) {
            ++report.unsendable;
        } else {
            history::Record record = stored.record;
            const std::string id = history::recordIdOf(record, stored.line);
            record["id"] = id;
            replaceNuls(record);
            const history::RecordRow row = history::rowOf(record);
            batch.push_back({{"id", id},
                             {"bench", history::benchOf(record)},
                             {"started", *started},
                             {"esn", row.esn ? nlohmann::json(*row.esn) : nlohmann::json()},
                             {"record", std::move(record)}});
        }
        if (batch.size() == kBatchSize || next == records.size()) {
            std::size_t fresh = 0;
            if (!batch.empty() && (report.failure = database.insert(batch, &fresh)))
                break;
            report.sent += batch.size();
            report.alreadyStored += batch.size() - fresh;
            batch = nlohmann::json::array();
            confirmed = next;
        }
    }
    if (confirmed > 0 && (!noteHolds || confirmed != note.records)) {
        const auto& last = records[confirmed - 1];
        writeNote(noteFile, {database.databaseId(), confirmed, history::recordIdOf(last.record, last.line)});
    }
    return report;
}

std::string warningFor(const Failure& failure)
{
    const bool ended = !failure.text.empty() && std::string_view(".?!").find(failure.text.back()) != std::string_view::npos;
    return "The history was not sent to the shop database: " + failure.text + (ended ? " " : ". ") +
           "Its records wait on this bench for the next run or `fieldkit-cli history push`.";
}

std::optional<std::string> sendWaitingRecords(const std::filesystem::path& historyFile,
                                              const std::filesystem::path& settingsFile)
{
    const std::string connection = databaseNamed(settingsFile);
    if (connection.empty())
        return std::nullopt;
    SystemClock clock;
    const PushReport report = pushWaitingRecords(historyFile, connection, clock);
    if (!report.failure)
        return std::nullopt;
    return warningFor(*report.failure);
}

} // namespace fieldkit::shop
