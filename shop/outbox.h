#pragma once

// The local history file as the outbox of the shop database: every record it holds that the
// database does not, sent after each run and by `fieldkit-cli history push`.
//
// Beside the history file a small note ("<history file>.sent") says up to which byte of the
// file every record is stored, in which database, with a fingerprint of the file so that a
// rewritten or rotated file is read from its start, and a few of the ids stored on the way, so
// that a database restored from an older backup is noticed and sent to again from the last
// point both still agree on. Only what was appended after that byte is read. The note is
// written after each batch the database took, so a crash in between only sends a batch again,
// and the database keeps a record once whatever is sent twice: each record's id is its key.
//
// A record the database cannot take (a start time that is no real time, an ESN out of range,
// a value the server refuses) is set aside in "<history file>.refused" with the reason, so
// that it never holds back the records after it.

#include "core/clock.h"
#include "shop/shop_database.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fieldkit::shop {

inline constexpr std::size_t kBatchBytes = 1u << 20;    // records per statement, by size
inline constexpr std::size_t kLargestRecord = 4u << 20; // a larger line is set aside
inline constexpr std::size_t kLongestBench = 1000;      // bench names are indexed: a longer one is set aside
// What a run's push may cost the technician at most; the rest waits for the next run.
inline constexpr std::chrono::milliseconds kPushAfterRun{3000};

struct SetAside {
    std::uint64_t offset = 0; // where its line starts in the history file
    std::string id;
    std::string reason;
};

struct PushReport {
    std::size_t sent = 0;               // records sent to the database
    std::size_t alreadyStored = 0;      // of those, records the database held already, the same
    std::vector<std::string> conflicts; // of those, ids it holds with other contents: both copies are kept
    std::vector<SetAside> setAside;     // records set aside by this push
    std::size_t skippedLines = 0;       // damaged lines met by this push, never sent
    bool sentAgain = false;             // the database lacked records it had taken: sent again
    bool unfinished = false;            // the time ran out: the rest waits
    std::optional<Failure> failure;
};

// "<history file>.sent", "<history file>.refused", and the file of the lock a push holds,
// "<history file>.sent.lock".
std::filesystem::path sentNoteFile(const std::filesystem::path& historyFile);
std::filesystem::path setAsideFile(const std::filesystem::path& historyFile);
std::filesystem::path pushLockFile(const std::filesystem::path& historyFile);

enum class PushFor {
    // `history push`: waits while another program pushes the file, and asks the database
    // whether it still holds what the note says even when nothing was appended.
    Request,
    // The push after a run: leaves the file to a push already at it, and does not connect
    // when nothing was appended.
    Run,
};

// Sends every record appended to the history file that the database does not hold yet.
PushReport pushWaitingRecords(const std::filesystem::path& historyFile, const std::string& connection, Clock& clock,
                              Bounds bounds = {}, PushFor purpose = PushFor::Request);

// The push after a run: nothing when no shop database is named, else within kPushAfterRun,
// and the warnings to show, if any. It never throws: the run's outcome stands either way.
std::vector<std::string> sendWaitingRecords(const std::filesystem::path& historyFile,
                                            const std::filesystem::path& settingsFile = settings::settingsFile());

// A push's trouble as a warning: what failed, and that the records wait.
std::string warningFor(const Failure& failure);

// What else a push met that the technician should know: records set aside, conflicting
// copies, and records left for later.
std::vector<std::string> noticesOf(const PushReport& report, const std::filesystem::path& historyFile);

} // namespace fieldkit::shop
