#pragma once

// The shop database: one PostgreSQL database that holds the history records of every bench.
// Each call is bounded in time, so a server that is down, unreachable or silent costs a run
// at most a few seconds and never its outcome.

#include "core/clock.h"
#include "history/history_file.h"
#include "history/history_table.h"
#include "settings/app_settings.h"

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

struct pg_conn;

namespace fieldkit::shop {

// The version of the tables this FieldKit writes; a database with a higher one was set up
// by a newer FieldKit and is left alone.
inline constexpr int kShopSchemaVersion = 1;
inline constexpr const char* kDatabaseVariable = "FIELDKIT_HISTORY_DATABASE";
inline constexpr const char* kNoDatabaseNamed = "no shop database is named: set FIELDKIT_HISTORY_DATABASE, or Database= "
                                                "in the [History] section of AppConfig.ini, to its connection string";

// The connection string or URI of the shop database: $FIELDKIT_HISTORY_DATABASE, else
// "Database" in the settings file's "History" section; empty when neither names one.
std::string databaseNamed(const std::filesystem::path& settingsFile = settings::settingsFile());

enum class FailureKind {
    BadConnectionString, // libpq cannot parse it
    PasswordInString,    // passwords belong in the password file or PGPASSWORD
    TlsUnavailable,      // sslmode asks for TLS this build of libpq does not have
    Connect,             // refused, unreachable, wrong password, unknown database
    Timeout,             // the server did not answer within the bound
    NewerSchema,         // the tables were set up by a newer FieldKit
    Statement,           // the server refused a statement, or the connection broke
    LocalFile,           // the history file on this bench cannot be read
};

struct Failure {
    FailureKind kind;
    std::string text; // never holds a password
};

struct Bounds {
    std::chrono::milliseconds connect{5000}; // from the first packet to a session that can be used
    std::chrono::milliseconds answer{10000}; // for each statement's whole answer
};

// One latest run of one radio.
struct FleetRow {
    std::uint32_t esn = 0;
    history::Record record; // the run's fields the report shows
    std::string bench;
};

class Database {
public:
    explicit Database(Clock& clock, Bounds bounds = {});
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;

    // Connects and makes sure the tables are there and of a version this FieldKit knows,
    // creating them in an empty database.
    std::optional<Failure> open(const std::string& connection);

    // Stores the records (each {"id", "bench", "started", "esn", "record"}) that the database
    // does not hold yet; `stored` is how many were new.
    std::optional<Failure> insert(const nlohmann::json& batch, std::size_t* stored);

    // Every bench's records that pass the filter, oldest first.
    std::optional<Failure> readRecords(const history::Filter& filter, history::HistoryContents* contents);

    // The latest run of each radio, by ESN; with `version`, only the radios whose latest
    // successful upgrade did not write that version, or that never had one.
    std::optional<Failure> readFleet(const std::optional<std::string>& version, std::vector<FleetRow>* rows);

    // A value made when the tables were created: another value means another database, in
    // which nothing sent before is stored.
    const std::string& databaseId() const { return databaseId_; }

    // "127.0.0.1:5432/shop", for messages.
    std::string where() const;

private:
    struct Result;
    std::optional<Failure> execute(const std::string& sql, const std::vector<std::optional<std::string>>& parameters,
                                   Result* result);
    std::optional<Failure> ensureSchema();
    std::optional<Failure> waitFor(bool forWrite, std::uint32_t deadline, std::chrono::milliseconds bound,
                                   const char* what);
    Failure statementFailure(const std::string& what) const;

    Clock& clock_;
    Bounds bounds_;
    pg_conn* connection_ = nullptr;
    std::string databaseId_;
};

} // namespace fieldkit::shop
