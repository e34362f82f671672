#include "shop/shop_database.h"

#include "shop/socket_wait.h"

#include <libpq-fe.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace fieldkit::shop {
namespace {

// Held while the tables are created, so two benches that find an empty database at once
// do not both create them.
constexpr const char* kCreateTables = R"(
SELECT pg_advisory_xact_lock(7305113071);
CREATE TABLE IF NOT EXISTS fieldkit_schema (
  version integer NOT NULL,
  database_id uuid NOT NULL,
  created timestamptz NOT NULL DEFAULT now());
CREATE TABLE IF NOT EXISTS fieldkit_history (
  id uuid PRIMARY KEY,
  started timestamptz NOT NULL,
  esn bigint,
  result text NOT NULL,
  command text NOT NULL,
  bench text NOT NULL,
  record jsonb NOT NULL,
  received timestamptz NOT NULL DEFAULT now());
CREATE INDEX IF NOT EXISTS fieldkit_history_esn_started ON fieldkit_history (esn, started DESC, received DESC)
  INCLUDE (id, command, result);
CREATE INDEX IF NOT EXISTS fieldkit_history_started ON fieldkit_history (started, received);
INSERT INTO fieldkit_schema (version, database_id)
  SELECT 1, gen_random_uuid() WHERE NOT EXISTS (SELECT 1 FROM fieldkit_schema);
)";

constexpr const char* kInsert = R"(
INSERT INTO fieldkit_history (id, started, esn, result, command, bench, record)
SELECT (r->>'id')::uuid, (r->>'started')::timestamptz, (r->>'esn')::bigint, r->'record'->>'result',
       r->'record'->>'command', r->>'bench', r->'record'
FROM jsonb_array_elements($1::jsonb) AS r
ON CONFLICT (id) DO NOTHING)";

constexpr const char* kSelectRecords = R"(
SELECT record::text FROM fieldkit_history
WHERE ($1::bigint IS NULL OR esn = $1::bigint)
  AND ($2::timestamptz IS NULL OR started >= $2::timestamptz)
  AND (NOT $3::boolean OR result = 'failure')
ORDER BY started, received)";

// Of each radio its latest run, found in the index alone, then its record; for the version
// filter, the version its latest successful upgrade wrote, by the same index.
constexpr const char* kSelectFleet = R"(
WITH latest AS (
  SELECT DISTINCT ON (esn) id FROM fieldkit_history
  WHERE esn IS NOT NULL ORDER BY esn, started DESC, received DESC)
SELECT l.esn, l.bench, jsonb_build_object(
  'started', l.record->'started', 'command', l.record->'command', 'esn', l.record->'esn',
  'board_version', l.record->'board_version', 'settings_version', l.record->'settings_version',
  'pages_written', l.record->'pages_written', 'result', l.record->'result', 'message', l.record->'message',
  'questions', l.record->'questions')::text
FROM latest JOIN fieldkit_history l ON l.id = latest.id
WHERE $1::text IS NULL OR (
  SELECT u.record->>'settings_version' FROM fieldkit_history u
  WHERE u.esn = l.esn AND u.command = 'upgrade' AND u.result = 'success'
  ORDER BY u.started DESC, u.received DESC LIMIT 1) IS DISTINCT FROM $1::text
ORDER BY l.esn)";

// libpq's messages end in a newline and may run over several lines, some indented.
std::string oneLine(const char* message)
{
    std::string text;
    bool lineStart = false, space = false;
    for (const char* c = message != nullptr ? message : ""; *c != '\0'; ++c) {
        if (*c == '\n') {
            lineStart = !text.empty();
        } else if (*c == ' ' || *c == '\t') {
            space = !text.empty();
        } else {
            if (lineStart)
                text += "; ";
            else if (space)
                text += ' ';
            lineStart = space = false;
            text += *c;
        }
    }
    return text;
}

struct OptionsFree {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};

std::string secondsText(std::chrono::milliseconds bound)
{
    const auto seconds = (bound.count() + 999) / 1000;
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

} // namespace

struct Database::Result {
    std::vector<std::vector<std::optional<std::string>>> rows;
    std::size_t affected = 0;
};

std::string databaseNamed(const std::filesystem::path& settingsFile)
{
    if (const char* named = std::getenv(kDatabaseVariable); named != nullptr && *named != '\0')
        return named;
    return settings::readHistoryDatabaseSetting(settingsFile);
}

Database::Database(Clock& clock, Bounds bounds) : clock_(clock), bounds_(bounds) {}

Database::~Database()
{
    if (connection_ != nullptr)
        PQfinish(connection_);
}

std::string Database::where() const
{
    if (connection_ == nullptr)
        return {};
    const char* host = PQhost(connection_);
    std::string text = host != nullptr && *host != '\0' ? host : "localhost";
    if (!text.empty() && text.front() == '/')
        text = "socket " + text; // a Unix socket's folder
    if (const char* port = PQport(connection_); port != nullptr && *port != '\0')
        text += std::string(":") + port;
    if (const char* name = PQdb(connection_); name != nullptr)
        text += std::string("/") + name;
    return text;
}

std::optional<Failure> Database::open(const std::string& connection)
{
    char* parseError = nullptr;
    const std::unique_ptr<PQconninfoOption, OptionsFree> options(PQconninfoParse(connection.c_str(), &parseError));
    if (!options) {
        const std::string reason = parseError != nullptr ? oneLine(parseError) : "out of memory";
        PQfreemem(parseError);
        return Failure{FailureKind::BadConnectionString, "the shop database's connection string cannot be read: " + reason};
    }
    std::string sslmode;
    for (const PQconninfoOption* option = options.get(); option->keyword != nullptr; ++option) {
        const bool set = option->val != nullptr && *option->val != '\0';
        if (set && std::strcmp(option->keyword, "password") == 0)
            return Failure{FailureKind::PasswordInString,
                           "the shop database's connection string holds a password; FieldKit does not keep passwords: "
                           "put it in the password file (~/.pgpass, %APPDATA%\\postgresql\\pgpass.conf on Windows) "
                           "or in PGPASSWORD"};
        if (set && std::strcmp(option->keyword, "sslmode") == 0)
            sslmode = option->val;
    }
    if (const char* fromEnvironment = std::getenv("PGSSLMODE"); sslmode.empty() && fromEnvironment != nullptr)
        sslmode = fromEnvironment;
    // Without TLS in libpq "prefer" quietly means plain text; these modes must not.
    if (PQsslAttribute(nullptr, "library") == nullptr &&
        (sslmode == "require" || sslmode == "verify-ca" || sslmode == "verify-full"))
        return Failure{FailureKind::TlsUnavailable,
                       "the shop database's connection asks for sslmode=" + sslmode +
                           ", but this FieldKit was built without TLS and cannot encrypt the connection; "
                           "use sslmode=disable only on a network you trust"};

    const char* keys[] = {"dbname", "fallback_application_name", nullptr};
    const char* values[] = {connection.c_str(), "fieldkit", nullptr};
    connection_ = PQconnectStartParams(keys, values, 1);
    if (connection_ == nullptr)
        return Failure{FailureKind::Connect, "the shop database cannot be reached: out of memory"};
    const std::uint32_t deadline = clock_.tickMs() + static_cast<std::uint32_t>(bounds_.connect.count());
    for (PostgresPollingStatusType state = PGRES_POLLING_WRITING; state != PGRES_POLLING_OK;) {
        if (state == PGRES_POLLING_FAILED || PQstatus(connection_) == CONNECTION_BAD)
            return Failure{FailureKind::Connect, "the shop database cannot be reached: " + oneLine(PQerrorMessage(connection_))};
        if (auto failure = waitFor(state == PGRES_POLLING_WRITING, deadline, bounds_.connect, "the connection request"))
            return failure;
        state = PQconnectPoll(connection_);
    }
    // The server's notices ("already exists, skipping") are not the user's business.
    PQsetNoticeProcessor(connection_, [](void*, const char*) {}, nullptr);
    if (PQsetnonblocking(connection_, 1) != 0)
        return statementFailure("setting up the connection");
    // The server gives up on a statement too, so none runs on after this bench stopped waiting.
    Result ignored;
    if (auto failure = execute("SET statement_timeout = " + std::to_string(bounds_.answer.count()), {}, &ignored))
        return failure;
    return ensureSchema();
}

std::optional<Failure> Database::waitFor(bool forWrite, std::uint32_t deadline, std::chrono::milliseconds bound,
                                         const char* what)
{
    const auto left = static_cast<std::int32_t>(deadline - clock_.tickMs());
    const auto outcome = left <= 0 ? platform::SocketWait::TimedOut
                                   : platform::waitForSocket(PQsocket(connection_), forWrite, std::chrono::milliseconds(left));
    if (outcome == platform::SocketWait::Ready)
        return std::nullopt;
    const std::string text = outcome == platform::SocketWait::TimedOut
                                 ? "the shop database at " + where() + " did not answer " + what + " within " +
                                       secondsText(bound)
                                 : "the shop database's connection failed while waiting for its answer";
    // A connection left in the middle of an answer cannot be used again.
    PQfinish(connection_);
    connection_ = nullptr;
    return Failure{outcome == platform::SocketWait::TimedOut ? FailureKind::Timeout : FailureKind::Statement, text};
}

Failure Database::statementFailure(const std::string& what) const
{
    return Failure{FailureKind::Statement, "the shop database failed " + what + ": " + oneLine(PQerrorMessage(connection_))};
}

std::optional<Failure> Database::execute(const std::string& sql, const std::vector<std::optional<std::string>>& parameters,
                                         Result* result)
{
    if (connection_ == nullptr)
        return Failure{FailureKind::Statement, "the shop database's connection is closed"};
    const std::uint32_t deadline = clock_.tickMs() + static_cast<std::uint32_t>(bounds_.answer.count());
    std::vector<const char*> values;
    for (const auto& parameter : parameters)
        values.push_back(parameter ? parameter->c_str() : nullptr);
    // Without parameters the simple protocol runs several statements as one transaction.
    const int sent = parameters.empty() ? PQsendQuery(connection_, sql.c_str())
                                        : PQsendQueryParams(connection_, sql.c_str(), static_cast<int>(values.size()),
                                                            nullptr, values.data(), nullptr, nullptr, 0);
    if (sent == 0)
        return statementFailure("to take a statement");
    for (int flushed = PQflush(connection_); flushed != 0; flushed = PQflush(connection_)) {
        if (flushed < 0)
            return statementFailure("to take a statement");
        if (auto failure = waitFor(true, deadline, bounds_.answer, "a statement"))
            return failure;
        if (PQconsumeInput(connection_) == 0)
            return statementFailure("to answer");
    }

    std::optional<Failure> failure;
    for (;;) {
        while (PQisBusy(connection_) != 0) {
            if (auto timedOut = waitFor(false, deadline, bounds_.answer, "a statement"))
                return timedOut;
            if (PQconsumeInput(connection_) == 0)
                return statementFailure("to answer");
        }
        PGresult* answer = PQgetResult(connection_);
        if (answer == nullptr)
            break;
        const ExecStatusType status = PQresultStatus(answer);
        if (status == PGRES_TUPLES_OK) {
            for (int row = 0; row < PQntuples(answer); ++row) {
                auto& values = result->rows.emplace_back();
                for (int column = 0; column < PQnfields(answer); ++column)
                    values.push_back(PQgetisnull(answer, row, column) != 0
                                         ? std::nullopt
                                         : std::optional<std::string>(PQgetvalue(answer, row, column)));
            }
        } else if (status == PGRES_COMMAND_OK) {
            result->affected = std::strtoull(PQcmdTuples(answer), nullptr, 10);
        } else if (!failure) {
            failure = Failure{FailureKind::Statement, "the shop database refused a statement: " +
                                                          oneLine(PQresultErrorMessage(answer))};
        }
        PQclear(answer);
    }
    return failure;
}

std::optional<Failure> Database::ensureSchema()
{
    for (int attempt = 0; attempt < 2; ++attempt) {
        Result found;
        if (auto failure = execute("SELECT to_regclass('fieldkit_schema') IS NOT NULL", {}, &found))
            return failure;
        if (found.rows.at(0).at(0) == "t") {
            Result schema;
            if (auto failure = execute("SELECT version, database_id FROM fieldkit_schema", {}, &schema))
                return failure;
            if (!schema.rows.empty() && schema.rows[0][0] && schema.rows[0][1]) {
                const int version = std::atoi(schema.rows[0][0]->c_str());
                if (version > kShopSchemaVersion)
                    return Failure{FailureKind::NewerSchema,
                                   "the shop database's tables are of version " + std::to_string(version) +
                                       ", set up by a newer FieldKit; this one knows version " +
                                       std::to_string(kShopSchemaVersion) + " at most: update FieldKit on this bench"};
                databaseId_ = *schema.rows[0][1];
                return std::nullopt;
            }
        }
        Result created;
        if (auto failure = execute(kCreateTables, {}, &created))
            return failure;
    }
    return Failure{FailureKind::Statement, "the shop database's tables could not be set up"};
}

std::optional<Failure> Database::insert(const nlohmann::json& batch, std::size_t* stored)
{
    Result result;
    auto failure = execute(kInsert, {batch.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace)}, &result);
    *stored = result.affected;
    return failure;
}

std::optional<Failure> Database::readRecords(const history::Filter& filter, history::HistoryContents* contents)
{
    Result result;
    std::optional<std::string> esn;
    if (filter.esn)
        esn = std::to_string(*filter.esn);
    if (auto failure = execute(kSelectRecords, {esn, filter.since, filter.failedOnly ? "true" : "false"}, &result))
        return failure;
    for (auto& row : result.rows) {
        history::Record record = history::Record::parse(*row.at(0), nullptr, false);
        if (record.is_discarded() || !history::isRecord(record)) {
            ++contents->skippedLines;
            continue;
        }
        contents->records.push_back({std::move(record), std::move(*row[0])});
    }
    return std::nullopt;
}

std::optional<Failure> Database::readFleet(const std::optional<std::string>& version, std::vector<FleetRow>* rows)
{
    Result result;
    if (auto failure = execute(kSelectFleet, {version}, &result))
        return failure;
    for (const auto& row : result.rows) {
        history::Record record = history::Record::parse(*row.at(2), nullptr, false);
        if (record.is_discarded())
            continue;
        rows->push_back({static_cast<std::uint32_t>(std::strtoull(row[0]->c_str(), nullptr, 10)), std::move(record),
                         row[1].value_or("")});
    }
    return std::nullopt;
}

} // namespace fieldkit::shop
