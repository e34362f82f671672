#pragma once

// The shop database: one PostgreSQL database that holds the history records of every bench.
// Each call is bounded in time, so a server that is down, unreachable or silent costs a run
// at most a few seconds and never its outcome.

#include "core/clock.h"
#include "history/history_file.h"
#include "history/history_table.h"
#include "settings/app_settings.h"
#include "shop/sql_session.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace fieldkit::shop {

// The version of the tables this FieldKit writes. An older one is brought forward when the
// role may; a higher one was set up by a newer FieldKit and is left alone.
inline constexpr int kShopSchemaVersion = 2;
inline constexpr const char* kDatabaseVariable = "FIELDKIT_HISTORY_DATABASE";
inline constexpr const char* kNoDatabaseNamed = "no shop database is named: set FIELDKIT_HISTORY_DATABASE, or Database= "
                                                "in the [History] section of AppConfig.ini, to its connection string";
inline constexpr const char* kSetUpCommand = "fieldkit-cli history setup";

// The connection string or URI of the shop database: $FIELDKIT_HISTORY_DATABASE, else
// "Database" in the settings file's "History" section; empty when neither names one.
std::string databaseNamed(const std::filesystem::path& settingsFile = settings::settingsFile());

struct Bounds {
    std::chrono::milliseconds connect{5000}; // from the first packet to a session that can be used
    std::chrono::milliseconds answer{10000}; // for each statement's whole answer
    // For everything from opening on, when the caller has only so long (the push after a run).
    std::optional<std::chrono::milliseconds> whole;
};

// One record on its way to the database: its id, its start time as parseSince writes it, its
// bench, its line as stored (with its id in it and no NUL escape), and the fields the
// database keeps in columns of their own, as text (none: null), without NUL characters.
struct Outgoing {
    std::string id;
    std::string started;
    std::string bench;
    std::string line;
    std::optional<std::string> esn;
    std::string result;
    std::string command;
    std::optional<std::string> boardVersion;
    std::optional<std::string> settingsVersion;
    std::optional<std::string> failureKind;
    std::optional<std::string> stage;
    std::optional<std::string> pagesWritten;
};

// What one batch of records did to the database.
struct Inserted {
    std::size_t stored = 0;             // new records
    std::size_t conflictsKept = 0;      // copies under a held id with other contents, kept beside it for the first time
    std::vector<std::string> conflicts; // ids the database holds with other contents than sent
};

// Where a radio stands, from the newest record (by the server's receipt) that tells its
// firmware: a read of the board, or an upgrade.
enum class FirmwareState {
    Read,       // the board said which version it holds (`info`, or an upgrade that wrote nothing)
    Written,    // an upgrade finished: the board holds the version it wrote
    Incomplete, // an upgrade ended after the erase: the board holds no whole firmware
};

struct RadioState {
    std::uint32_t esn = 0;
    std::string firmware; // empty when incomplete or unknown
    FirmwareState state = FirmwareState::Read;
    std::string started;  // the run's own time, by its bench's clock, as recorded
    std::string received; // when the server took its record, UTC
    // Seconds from the run's end to the server's receipt: a push delayed by an outage, or a
    // bench clock that runs slow, when large; a bench clock that runs ahead, when negative.
    double receivedAfter = 0;
    std::string bench;
    std::string command;
    std::string result;
    std::string message;
};

// Failures at one bench over a period.
struct BenchFailures {
    std::string bench;
    std::size_t runs = 0;
    std::size_t failures = 0;
    std::size_t afterErase = 0; // failed upgrades that left a board without a whole firmware
    std::size_t radios = 0;     // radios with a failure
    std::string lastFailure;    // received, UTC; empty without failures
    std::string kinds;          // "erase_block 3, ping 1", most frequent first
};

class Database {
public:
    explicit Database(Clock& clock, Bounds bounds = {});
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Connects and makes sure the tables are there and of this FieldKit's version: creates
    // them in an empty database and brings older ones forward, when the role may.
    std::optional<Failure> open(const std::string& connection);

    // Stores the records of a batch that the database does not hold yet.
    std::optional<Failure> insert(std::span<const Outgoing> batch, Inserted* inserted);
    // The same in two steps: the database works on the batch while this side reads the next.
    std::optional<Failure> sendInsert(std::span<const Outgoing> batch);
    std::optional<Failure> receiveInserted(Inserted* inserted);

    // Which of these record ids the database holds.
    std::optional<Failure> holding(const std::vector<std::string>& ids, std::set<std::string>* held);

    // Every bench's records that pass the filter, oldest first, and with them every copy kept
    // under one of their ids with other contents (`conflicting` counts those).
    std::optional<Failure> readRecords(const history::Filter& filter, history::HistoryContents* contents,
                                       std::size_t* conflicting = nullptr);

    // Each radio's state, by ESN; with `version`, only the radios that do not hold it.
    std::optional<Failure> readFleet(const std::optional<std::string>& version, std::vector<RadioState>* radios);

    // Each bench's runs and failures received since `since` (UTC, as parseSince gives it), or ever.
    std::optional<Failure> readFailures(const std::optional<std::string>& since, std::vector<BenchFailures>* benches);

    // For an administrator: the tables, and two group roles (which must not exist as other
    // things): `benchRole` may add records and see which ids are held, `readerRole` may read.
    std::optional<Failure> setUp(const std::string& benchRole, const std::string& readerRole);

    // A value made when the tables were created: another value means another database, in
    // which nothing sent before is stored.
    const std::string& databaseId() const { return databaseId_; }

    // "127.0.0.1:5432/shop", for messages.
    std::string where() const;

    // Whether `needed` is left of the whole bound (always, without one).
    bool hasTimeFor(std::chrono::milliseconds needed);

private:
    std::optional<Failure> execute(std::string_view sql, const std::vector<std::optional<std::string>>& parameters,
                                   Rows* rows);
    std::optional<Failure> send(std::string_view sql, const std::vector<std::optional<std::string>>& parameters);
    std::optional<Failure> receive(Rows* rows);
    std::optional<Failure> closedOnTimeout(std::optional<Failure> failure);
    std::optional<Failure> ensureSchema();

    Clock& clock_;
    Bounds bounds_;
    std::uint32_t openedAt_ = 0;
    std::uint32_t answerBy_ = 0; // the deadline of the statement sent last
    std::unique_ptr<SqlSession> session_;
    std::string databaseId_;
};

// Whether a role name is one setUp takes: lower-case letters, digits and underscores, not
// starting with a digit, at most 63 of them.
bool isRoleName(std::string_view name);

} // namespace fieldkit::shop
