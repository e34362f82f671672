#include "shop/outbox.h"

#include "core/atomic_file.h"
#include "core/file_digest.h"
#include "history/history_record.h"
#include "history/history_table.h"
#include "shop/push_lock.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <deque>
#include <fstream>
#include <set>
#include <system_error>
#include <utility>

namespace fieldkit::shop {
namespace {

// The note keeps the newest ids it stored and, thinned, older ones: a restore from an older
// backup is then found with one question to the server.
constexpr std::size_t kCheckpoints = 24;
// The part of the file at each end of what the note covers that its fingerprint is made of.
constexpr std::size_t kFingerprintBytes = 4096;
constexpr std::size_t kReadChunk = 1u << 20;

// The history file from a byte on, line by line, as it is while benches may append to it.
class HistoryTail {
public:
    // Nothing when the file can be read, or does not exist (then it holds no lines).
    std::optional<std::string> open(const std::filesystem::path& file)
    {
        std::error_code error;
        const auto status = std::filesystem::status(file, error);
        if (status.type() == std::filesystem::file_type::not_found)
            return std::nullopt;
        if (error)
            return file.string() + ": " + error.message();
        if (std::filesystem::is_directory(status))
            return file.string() + ": is a folder, not a file";
        if (!std::filesystem::is_regular_file(status)) // a pipe or a device never ends
            return file.string() + ": is not a regular file";
        in_.open(file, std::ios::binary);
        if (!in_)
            return file.string() + ": " + std::strerror(errno);
        in_.seekg(0, std::ios::end);
        size_ = static_cast<std::uint64_t>(in_.tellg());
        return std::nullopt;
    }

    std::uint64_t size() const { return size_; }

    std::string bytesAt(std::uint64_t offset, std::size_t count)
    {
        std::string bytes(count, '\0');
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(offset));
        in_.read(bytes.data(), static_cast<std::streamsize>(count));
        bytes.resize(static_cast<std::size_t>(std::max<std::streamsize>(in_.gcount(), 0)));
        return bytes;
    }

    void seek(std::uint64_t offset)
    {
        position_ = offset;
        buffer_.clear();
        used_ = 0;
    }

    // The next whole line up to the size seen at opening (a line still being written is left
    // for the next push), without its newline; false at the end.
    bool nextLine(std::string& line, std::uint64_t& start)
    {
        for (;;) {
            const auto end = buffer_.find('\n', used_);
            if (end != std::string::npos) {
                start = position_;
                line.assign(buffer_, used_, end - used_);
                position_ += end - used_ + 1;
                used_ = end + 1;
                return true;
            }
            const std::uint64_t bufferEnd = position_ + (buffer_.size() - used_);
            if (bufferEnd >= size_)
                return false;
            buffer_.erase(0, used_);
            used_ = 0;
            const auto more = bytesAt(bufferEnd, static_cast<std::size_t>(std::min<std::uint64_t>(kReadChunk, size_ - bufferEnd)));
            if (more.empty())
                return false;
            buffer_ += more;
        }
    }

    // Where the next line starts: everything before it has been returned.
    std::uint64_t position() const { return position_; }

private:
    std::ifstream in_;
    std::uint64_t size_ = 0;
    std::uint64_t position_ = 0;
    std::string buffer_;
    std::size_t used_ = 0;
};

std::string hexOf(std::span<const std::uint8_t> bytes)
{
    constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const auto byte : bytes) {
        text += kHex[byte >> 4];
        text += kHex[byte & 0x0F];
    }
    return text;
}

// The file's first bytes and those just before `offset`: another file, or this one rewritten
// or rotated, gives another fingerprint.
std::string fingerprintOf(HistoryTail& tail, std::uint64_t offset)
{
    const auto count = static_cast<std::size_t>(std::min<std::uint64_t>(kFingerprintBytes, offset));
    const auto digest = sha256Of(tail.bytesAt(0, count) + tail.bytesAt(offset - count, count));
    return hexOf(std::span(digest).first(16));
}

struct Checkpoint {
    std::uint64_t offset = 0; // every record before it is stored, or set aside
    std::string id;           // the last record stored before it
};

struct SentNote {
    std::string databaseId;
    std::uint64_t offset = 0;
    std::string fingerprint;
    std::vector<Checkpoint> checkpoints; // oldest first
};

// The note, or an empty one when it is missing or not a note of this kind (an older
// FieldKit's): then everything is sent again, which stores nothing twice. The reason when
// it exists but cannot be read.
std::optional<std::string> readNote(const std::filesystem::path& file, SentNote* note)
{
    std::error_code error;
    const auto status = std::filesystem::status(file, error);
    if (status.type() == std::filesystem::file_type::not_found)
        return std::nullopt;
    if (!std::filesystem::is_regular_file(status))
        return file.string() + ": is not a file";
    std::ifstream in(file, std::ios::binary);
    if (!in)
        return file.string() + ": " + std::strerror(errno);
    const auto json = nlohmann::json::parse(in, nullptr, false);
    const auto text = [&json](const char* key) {
        const auto found = json.find(key);
        return found != json.end() && found->is_string() ? found->get<std::string>() : std::string();
    };
    if (json.is_discarded() || !json.is_object() || !json.contains("offset") || !json["offset"].is_number_unsigned() ||
        !json.contains("checkpoints") || !json["checkpoints"].is_array())
        return std::nullopt;
    note->databaseId = text("database_id");
    note->fingerprint = text("fingerprint");
    note->offset = json["offset"].get<std::uint64_t>();
    for (const auto& checkpoint : json["checkpoints"])
        if (checkpoint.is_array() && checkpoint.size() == 2 && checkpoint[0].is_number_unsigned() && checkpoint[1].is_string())
            note->checkpoints.push_back({checkpoint[0].get<std::uint64_t>(), checkpoint[1].get<std::string>()});
    return std::nullopt;
}

std::optional<std::string> writeNote(const std::filesystem::path& file, const SentNote& note)
{
    nlohmann::json checkpoints = nlohmann::json::array();
    for (const auto& checkpoint : note.checkpoints)
        checkpoints.push_back({checkpoint.offset, checkpoint.id});
    const std::string text = nlohmann::json{{"database_id", note.databaseId},
                                            {"offset", note.offset},
                                            {"fingerprint", note.fingerprint},
                                            {"checkpoints", std::move(checkpoints)}}
                                 .dump() +
                             '\n';
    std::string error;
    if (!replaceFile(file, {reinterpret_cast<const std::uint8_t*>(text.data()), text.size()}, Durability::OnDisk, &error))
        return "the note of what was sent, " + file.string() + ", cannot be written: " + error;
    return std::nullopt;
}

// Keeps the newest checkpoints and ever fewer older ones: when the list is full, every other
// one of its older half goes.
void addCheckpoint(std::vector<Checkpoint>& checkpoints, Checkpoint checkpoint)
{
    checkpoints.push_back(std::move(checkpoint));
    if (checkpoints.size() <= kCheckpoints)
        return;
    std::vector<Checkpoint> kept;
    for (std::size_t i = 0; i < checkpoints.size(); ++i)
        if (i >= kCheckpoints / 2 || i % 2 == 0)
            kept.push_back(std::move(checkpoints[i]));
    checkpoints = std::move(kept);
}

// The database's text cannot hold a NUL character, in a key or a value: written as U+FFFD.
// Every backslash in JSON text starts an escape, so escapes are found without parsing.
void replaceNulEscapes(std::string& json)
{
    for (std::size_t at = json.find('\\'); at != std::string::npos; at = json.find('\\', at + 2))
        if (json.compare(at + 1, 5, "u0000") == 0)
            json.replace(at + 2, 4, "fffd");
}

// The database's text cannot hold a NUL character either: U+FFFD in its place.
std::string withoutNul(const std::string& text)
{
    std::string kept;
    for (const char c : text)
        kept += c == '\0' ? std::string("\xEF\xBF\xBD") : std::string(1, c);
    return kept;
}

// A field the database keeps in a column of its own, as text: none when null or missing;
// false when it is of another kind.
bool columnText(const history::Record& record, const char* key, std::optional<std::string>* text)
{
    const auto found = record.find(key);
    if (found == record.end() || found->is_null())
        return true;
    if (found->is_string())
        *text = withoutNul(found->get<std::string>());
    return found->is_string();
}

bool columnCount(const history::Record& record, const char* key, std::uint64_t largest, std::optional<std::string>* text)
{
    const auto found = record.find(key);
    if (found == record.end() || found->is_null())
        return true;
    const bool count = found->is_number_unsigned() && found->get<std::uint64_t>() <= largest;
    if (count)
        *text = std::to_string(found->get<std::uint64_t>());
    return count;
}

bool isOneOf(const std::string& value, std::initializer_list<const char*> allowed)
{
    return std::any_of(allowed.begin(), allowed.end(), [&value](const char* one) { return value == one; });
}

// One record as it goes to the database, or why the database cannot take it. Made from the
// stored line: the record itself is never copied nor written out again.
struct Element {
    Outgoing outgoing;
    std::string reason; // set when it cannot be sent
};

Element elementOf(const history::Record& record, const std::string& line)
{
    Element element;
    Outgoing& outgoing = element.outgoing;
    outgoing.id = history::recordIdOf(record, line);
    const std::string started = record["started"].get<std::string>();
    const auto time = history::parseSince(started);
    outgoing.command = record["command"].get<std::string>();
    outgoing.result = record["result"].get<std::string>();
    outgoing.bench = withoutNul(history::benchOf(record));
    if (!time) {
        const bool showable = started.size() <= 40 && std::all_of(started.begin(), started.end(), [](char c) {
                                  return c > ' ' && c < 0x7F;
                              });
        element.reason = "its start time is not a real UTC time" + (showable ? ": " + started : std::string());
    } else if (!isOneOf(outgoing.command, {history::kUpgradeCommand, history::kInfoCommand})) {
        element.reason = "its command is neither upgrade nor info";
    } else if (!isOneOf(outgoing.result, {"success", "failure", "declined", "interrupted"})) {
        element.reason = "its result is none of success, failure, declined and interrupted";
    } else if (!columnCount(record, "esn", UINT32_MAX, &outgoing.esn)) {
        element.reason = "its ESN is not a number from 0 to 4294967295";
    } else if (!columnCount(record, "pages_written", INT64_MAX, &outgoing.pagesWritten)) {
        element.reason = "its pages_written is not a count";
    } else if (!columnText(record, "board_version", &outgoing.boardVersion) ||
               !columnText(record, "settings_version", &outgoing.settingsVersion) ||
               !columnText(record, "failure_kind", &outgoing.failureKind) || !columnText(record, "stage", &outgoing.stage)) {
        element.reason = "one of board_version, settings_version, failure_kind and stage is not text";
    } else if (outgoing.bench.size() > kLongestBench) {
        element.reason = "its bench name is longer than " + std::to_string(kLongestBench) + " bytes";
    } else if (line.size() > kLargestRecord) {
        element.reason = "it is larger than " + std::to_string(kLargestRecord >> 20) + " MiB";
    }
    if (!element.reason.empty())
        return element;
    outgoing.started = *time;
    outgoing.line = line;
    // A record from before records had ids gets its id; of two "id" keys the last counts.
    if (const auto own = record.find("id"); own == record.end() || *own != outgoing.id)
        outgoing.line.insert(line.rfind('}'), R"(,"id":")" + outgoing.id + '"');
    replaceNulEscapes(outgoing.line);
    return element;
}

// One push: the file from where the note says, the batches, what they did, and the note.
class Push {
public:
    Push(const std::filesystem::path& historyFile, HistoryTail& tail, SentNote& note, Database& database,
         PushReport& report)
        : historyFile_(historyFile), tail_(tail), note_(note), database_(database), report_(report)
    {
    }

    // Reads the lines from where the tail stands and sends their records. Damaged lines before
    // `countedThrough` were counted by an earlier push already.
    void run(std::uint64_t countedThrough)
    {
        readSetAside();
        std::vector<Pending> batch;
        std::set<std::string> idsInBatch;
        std::size_t batchBytes = 0;
        std::uint64_t start = 0;
        for (std::string line; tail_.nextLine(line, start);) {
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            if (line.empty())
                continue;
            const history::Record record = history::parseRecordLine(line);
            if (record.is_discarded() || !history::isRecord(record)) {
                report_.skippedLines += start >= countedThrough ? 1 : 0;
                continue;
            }
            Element element = elementOf(record, line);
            if (!element.reason.empty()) {
                if (!setAside({std::move(element.outgoing), line, start}, element.reason))
                    return;
                continue;
            }
            // Of two records with one id in a batch the database would compare only the first.
            const std::size_t size = element.outgoing.line.size() + element.outgoing.bench.size();
            if (!batch.empty() && (batchBytes + size > kBatchBytes || idsInBatch.contains(element.outgoing.id))) {
                if (!dispatch(std::exchange(batch, {}), start))
                    return;
                idsInBatch.clear();
                batchBytes = 0;
            }
            batchBytes += size;
            idsInBatch.insert(element.outgoing.id);
            batch.push_back({std::move(element.outgoing), std::move(line), start});
        }
        if (dispatch(std::move(batch), tail_.position()))
            finishInFlight();
    }

private:
    struct Pending {
        Outgoing outgoing;
        std::string line; // as stored
        std::uint64_t offset;
    };

    struct InFlight {
        std::vector<Pending> records;
        std::uint64_t handled; // every line before it is in these records, set aside or skipped
    };

    // Sends a batch without waiting for its answer, so that the next one is read meanwhile;
    // the answer to the one before is taken first. With no records, only notes that the lines
    // before `handled` are done with. False when the push must stop here.
    bool dispatch(std::vector<Pending>&& records, std::uint64_t handled)
    {
        if (!finishInFlight())
            return false;
        if (records.empty())
            return recordProgress(handled);
        if (!database_.hasTimeFor(slowestBatch_)) {
            report_.unfinished = true;
            return false;
        }
        sentAt_ = std::chrono::steady_clock::now();
        if ((report_.failure = database_.sendInsert(outgoingOf(records, 0, records.size()))))
            return false;
        inFlight_ = InFlight{std::move(records), handled};
        return true;
    }

    // Takes the answer to the batch on its way, if any, and notes what it stored.
    bool finishInFlight()
    {
        if (!inFlight_)
            return true;
        const InFlight batch = std::move(*inFlight_);
        inFlight_.reset();
        Inserted inserted;
        auto failure = database_.receiveInserted(&inserted);
        slowestBatch_ = std::max(slowestBatch_, std::chrono::duration_cast<std::chrono::milliseconds>(
                                                    std::chrono::steady_clock::now() - sentAt_));
        if (failure && failure->kind == FailureKind::Refused) {
            if (!sendSplitting(batch.records, *failure))
                return false;
        } else if (failure) {
            report_.failure = std::move(failure);
            return false;
        } else {
            took(batch.records, 0, batch.records.size(), inserted);
        }
        return recordProgress(batch.handled);
    }

    // A batch the server refused for what one of its records holds: its halves are sent, and
    // their halves, until the record it refuses is found and set aside.
    bool sendSplitting(const std::vector<Pending>& batch, const Failure& refused)
    {
        if (batch.size() == 1)
            return setAside(batch[0], refused.text);
        std::deque<std::pair<std::size_t, std::size_t>> parts{{0, batch.size() / 2},
                                                               {batch.size() / 2, batch.size() - batch.size() / 2}};
        while (!parts.empty()) {
            const auto [first, count] = parts.front();
            parts.pop_front();
            if (!database_.hasTimeFor(slowestBatch_)) {
                report_.unfinished = true;
                return false;
            }
            Inserted inserted;
            auto failure = database_.insert(outgoingOf(batch, first, count), &inserted);
            if (failure && failure->kind == FailureKind::Refused && count > 1) {
                parts.push_front({first + count / 2, count - count / 2});
                parts.push_front({first, count / 2});
            } else if (failure && failure->kind == FailureKind::Refused) {
                if (!setAside(batch[first], failure->text))
                    return false;
            } else if (failure) {
                report_.failure = std::move(failure);
                return false;
            } else {
                took(batch, first, count, inserted);
            }
        }
        return true;
    }

    static std::vector<Outgoing> outgoingOf(const std::vector<Pending>& records, std::size_t first, std::size_t count)
    {
        std::vector<Outgoing> outgoing;
        for (std::size_t i = first; i < first + count; ++i)
            outgoing.push_back(records[i].outgoing);
        return outgoing;
    }

    void took(const std::vector<Pending>& records, std::size_t first, std::size_t count, const Inserted& inserted)
    {
        report_.sent += count;
        report_.alreadyStored += count - inserted.stored - inserted.conflicts.size();
        report_.conflicts.insert(report_.conflicts.end(), inserted.conflicts.begin(), inserted.conflicts.end());
        lastStoredId_ = records[first + count - 1].outgoing.id;
    }

    // Keeps the record's line, with why, in the file beside the history; false when it cannot.
    bool setAside(const Pending& record, const std::string& reason)
    {
        if (alreadySetAside_.contains({record.offset, record.outgoing.id}))
            return true; // by an earlier push, and met again when sending again
        history::Record entry;
        entry["set_aside"] = history::utcTimestamp(std::chrono::system_clock::now());
        entry["offset"] = record.offset;
        entry["id"] = record.outgoing.id;
        entry["reason"] = reason;
        entry["line"] = record.line;
        if (auto error = history::appendRecord(setAsideFile(historyFile_), entry)) {
            report_.failure = Failure{FailureKind::LocalFile, "a record that cannot be sent cannot be set aside: " + *error};
            return false;
        }
        report_.setAside.push_back({record.offset, record.outgoing.id, reason});
        return true;
    }

    // What earlier pushes set aside, by where it lies and its id (a file rewritten since has
    // other ids there).
    void readSetAside()
    {
        std::ifstream in(setAsideFile(historyFile_), std::ios::binary);
        for (std::string line; std::getline(in, line);) {
            const auto entry = history::parseRecordLine(line);
            if (entry.is_object() && entry.contains("offset") && entry["offset"].is_number_unsigned() &&
                entry.contains("id") && entry["id"].is_string())
                alreadySetAside_.insert({entry["offset"].get<std::uint64_t>(), entry["id"].get<std::string>()});
        }
    }

    bool recordProgress(std::uint64_t offset)
    {
        if (offset == note_.offset)
            return true;
        note_.offset = offset;
        note_.fingerprint = fingerprintOf(tail_, offset);
        if (!lastStoredId_.empty())
            addCheckpoint(note_.checkpoints, {offset, std::exchange(lastStoredId_, {})});
        if (auto error = writeNote(sentNoteFile(historyFile_), note_)) {
            report_.failure = Failure{FailureKind::LocalFile, *error};
            return false;
        }
        return true;
    }

    const std::filesystem::path& historyFile_;
    HistoryTail& tail_;
    SentNote& note_;
    Database& database_;
    PushReport& report_;
    std::set<std::pair<std::uint64_t, std::string>> alreadySetAside_;
    std::string lastStoredId_;
    std::optional<InFlight> inFlight_;
    std::chrono::steady_clock::time_point sentAt_;
    std::chrono::milliseconds slowestBatch_{200};
};

} // namespace

std::filesystem::path sentNoteFile(const std::filesystem::path& historyFile)
{
    auto note = historyFile;
    note += ".sent";
    return note;
}

std::filesystem::path setAsideFile(const std::filesystem::path& historyFile)
{
    auto file = historyFile;
    file += ".refused";
    return file;
}

std::filesystem::path pushLockFile(const std::filesystem::path& historyFile)
{
    auto file = sentNoteFile(historyFile);
    file += ".lock";
    return file;
}

PushReport pushWaitingRecords(const std::filesystem::path& historyFile, const std::string& connection, Clock& clock,
                              Bounds bounds, PushFor purpose)
{
    PushReport report;
    const bool byRun = purpose == PushFor::Run;
    HistoryTail tail;
    if (auto error = tail.open(historyFile)) {
        report.failure = Failure{FailureKind::LocalFile, "the history cannot be read: " + *error};
        return report;
    }
    if (byRun && tail.size() == 0)
        return report;
    std::optional<PushLock> lock;
    if (tail.size() > 0 && lock.emplace(pushLockFile(historyFile), !byRun).state() != PushLock::State::Held) {
        if (lock->state() == PushLock::State::Failed)
            report.failure = Failure{FailureKind::LocalFile, "the history's push cannot be locked: " + lock->error()};
        return report; // else another program is pushing this file: it sends what waits
    }
    SentNote note;
    if (auto error = readNote(sentNoteFile(historyFile), &note)) {
        report.failure = Failure{FailureKind::LocalFile, "the note of what was sent cannot be read: " + *error};
        return report;
    }
    const bool noteFits = note.offset <= tail.size() && !note.fingerprint.empty() &&
                          fingerprintOf(tail, note.offset) == note.fingerprint;
    if (!noteFits)
        note = SentNote{};
    // Nothing appended: a run's push does not even connect.
    if (byRun && tail.size() == note.offset)
        return report;

    Database database(clock, bounds);
    if ((report.failure = database.open(connection)))
        return report;
    const std::uint64_t countedThrough = note.offset;
    if (note.databaseId != database.databaseId()) {
        note = SentNote{};
        note.databaseId = database.databaseId();
    } else if (!note.checkpoints.empty()) {
        // Does the database still hold what the note says it took? After a restore from an
        // older backup it does not: send again from the newest point it still holds.
        std::vector<std::string> ids;
        for (const auto& checkpoint : note.checkpoints)
            ids.push_back(checkpoint.id);
        std::set<std::string> held;
        if ((report.failure = database.holding(ids, &held)))
            return report;
        if (!held.contains(note.checkpoints.back().id)) {
            report.sentAgain = true;
            while (!note.checkpoints.empty() && !held.contains(note.checkpoints.back().id))
                note.checkpoints.pop_back();
            note.offset = note.checkpoints.empty() ? 0 : note.checkpoints.back().offset;
        }
    }
    tail.seek(note.offset);
    Push(historyFile, tail, note, database, report).run(countedThrough);
    return report;
}

std::string warningFor(const Failure& failure)
{
    const bool ended = !failure.text.empty() && std::string_view(".?!").find(failure.text.back()) != std::string_view::npos;
    return "The history was not sent to the shop database: " + failure.text + (ended ? " " : ". ") +
           "Its records wait on this bench for the next run or `fieldkit-cli history push`.";
}

std::vector<std::string> noticesOf(const PushReport& report, const std::filesystem::path& historyFile)
{
    const auto records = [](std::size_t count) {
        return std::to_string(count) + (count == 1 ? " record" : " records");
    };
    std::vector<std::string> notices;
    if (!report.setAside.empty())
        notices.push_back(records(report.setAside.size()) + " of the history cannot be sent to the shop database and " +
                          (report.setAside.size() == 1 ? "was" : "were") + " set aside in " +
                          setAsideFile(historyFile).string() + " (" + report.setAside.front().reason + ").");
    if (!report.conflicts.empty())
        notices.push_back(records(report.conflicts.size()) + " of this bench " +
                          (report.conflicts.size() == 1 ? "has" : "have") +
                          " the id of another record in the shop database, with other contents (first " +
                          report.conflicts.front() + "): both copies are kept, and `fieldkit-cli history --database` "
                          "shows them.");
    if (report.unfinished)
        notices.push_back("Not every waiting record could be sent within the time a run allows; the rest waits for the "
                          "next run or `fieldkit-cli history push`.");
    return notices;
}

std::vector<std::string> sendWaitingRecords(const std::filesystem::path& historyFile,
                                            const std::filesystem::path& settingsFile)
{
    try {
        const std::string connection = databaseNamed(settingsFile);
        if (connection.empty() || historyFile.empty())
            return {};
        SystemClock clock;
        Bounds bounds;
        bounds.whole = kPushAfterRun;
        const PushReport report = pushWaitingRecords(historyFile, connection, clock, bounds, PushFor::Run);
        auto warnings = noticesOf(report, historyFile);
        if (report.failure)
            warnings.insert(warnings.begin(), warningFor(*report.failure));
        return warnings;
    } catch (const std::exception& fault) {
        return {warningFor(Failure{FailureKind::LocalFile, fault.what()})};
    }
}

} // namespace fieldkit::shop
