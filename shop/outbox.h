#pragma once

// The local history file as the outbox of the shop database: every record it holds that the
// database does not, sent after each run and by `fieldkit-cli history push`.
//
// Beside the history file a small note ("<history file>.sent") says how many of its records
// are known to be stored, in which database. The note is written only after the database
// took them, so a crash in between only sends them again, and the database keeps a record
// once whatever is sent twice: each record's id is its key.

#include "core/clock.h"
#include "shop/shop_database.h"

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>

namespace fieldkit::shop {

inline constexpr std::size_t kBatchSize = 1000;

struct PushReport {
    std::size_t sent = 0;          // records sent to the database
    std::size_t alreadyStored = 0; // of those, records the database held already
    std::size_t skippedLines = 0;  // damaged lines of the history file, never sent
    std::size_t unsendable = 0;    // records whose start is not a time: kept on the bench only
    std::optional<Failure> failure;
};

// "<history file>.sent".
std::filesystem::path sentNoteFile(const std::filesystem::path& historyFile);

// Sends every record of the history file the database does not hold yet.
PushReport pushWaitingRecords(const std::filesystem::path& historyFile, const std::string& connection, Clock& clock,
                              Bounds bounds = {});

// What the front ends call once a run's record is on disk: nothing when no shop database is
// named or every record is stored, else the text of the warning to show. The run's outcome
// stands either way.
std::optional<std::string> sendWaitingRecords(const std::filesystem::path& historyFile,
                                              const std::filesystem::path& settingsFile = settings::settingsFile());

// A push's trouble as a warning: what failed, and that the records wait.
std::string warningFor(const Failure& failure);

} // namespace fieldkit::shop
