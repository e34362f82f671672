#include "shop/shop_database.h"

#include "core/causes.h"

#include <algorithm>
#include <cstdlib>

namespace fieldkit::shop {
namespace {

// Every statement that changes the tables runs under this lock, so two benches that find an
// empty or older database at once do not both set it up.
constexpr const char* kTakeSchemaLock = "SELECT pg_advisory_xact_lock(7305113071);\n";

// The tables of version 1, then each later version's changes, applied once: run whole on an
// empty database and on an older one alike. Checks added to existing tables hold for new
// rows only (NOT VALID), since older FieldKits did not check what they stored.
constexpr const char* kSchema = R"(
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
INSERT INTO fieldkit_schema (version, database_id)
  SELECT 1, gen_random_uuid() WHERE NOT EXISTS (SELECT 1 FROM fieldkit_schema);
DO $$ BEGIN
IF (SELECT version FROM fieldkit_schema) < 2 THEN
  ALTER TABLE fieldkit_history
    ADD COLUMN board_version text,
    ADD COLUMN settings_version text,
    ADD COLUMN failure_kind text,
    ADD COLUMN stage text,
    ADD COLUMN pages_written bigint,
    ADD COLUMN received_order bigint GENERATED ALWAYS AS IDENTITY,
    ADD COLUMN record_md5 text,
    ADD COLUMN stored_by text,
    ADD COLUMN stored_from inet;
  UPDATE fieldkit_history SET
    board_version = record->>'board_version', settings_version = record->>'settings_version',
    failure_kind = record->>'failure_kind', stage = record->>'stage',
    pages_written = CASE WHEN record->>'pages_written' ~ '^[0-9]{1,18}$' THEN (record->>'pages_written')::bigint END;
  -- Records are kept as their benches wrote them: checking JSON costs the server less than
  -- converting it, and what is looked up has columns of its own.
  ALTER TABLE fieldkit_history
    ALTER COLUMN record TYPE json USING record::json,
    ALTER COLUMN stored_by SET DEFAULT session_user,
    ALTER COLUMN stored_from SET DEFAULT inet_client_addr(),
    ADD CONSTRAINT fieldkit_history_esn CHECK (esn BETWEEN 0 AND 4294967295) NOT VALID,
    ADD CONSTRAINT fieldkit_history_result CHECK (result IN ('success', 'failure', 'declined', 'interrupted')) NOT VALID,
    ADD CONSTRAINT fieldkit_history_command CHECK (command IN ('upgrade', 'info')) NOT VALID,
    ADD CONSTRAINT fieldkit_history_pages CHECK (pages_written >= 0) NOT VALID;
  -- Each radio's state and each bench's failures come from these alone, without the records;
  -- every index costs each record stored, so the ones of version 1 go.
  DROP INDEX IF EXISTS fieldkit_history_esn_started;
  DROP INDEX IF EXISTS fieldkit_history_started;
  CREATE INDEX fieldkit_history_esn_received ON fieldkit_history (esn, received DESC, received_order DESC)
    INCLUDE (id, command, result, stage, pages_written, board_version, settings_version);
  CREATE INDEX fieldkit_history_bench_received ON fieldkit_history (bench, received)
    INCLUDE (esn, command, result, stage, pages_written, failure_kind);
  CREATE INDEX fieldkit_history_failures ON fieldkit_history (started) WHERE result = 'failure';
  CREATE TABLE fieldkit_conflict (
    id uuid NOT NULL,
    bench text NOT NULL,
    record json NOT NULL,
    record_md5 text NOT NULL,
    received timestamptz NOT NULL DEFAULT now(),
    stored_by text NOT NULL DEFAULT session_user,
    stored_from inet DEFAULT inet_client_addr(),
    PRIMARY KEY (id, record_md5));
  UPDATE fieldkit_schema SET version = 2;
END IF;
END $$;
)";

// A batch in one statement: each record stored once under its id; a record held already
// with other contents (the same id from another bench, say) kept beside it, so neither copy
// is lost. The bench sends each record's line, which the server checks is JSON and keeps as
// written, and the fields it keeps in columns, as arrays; the lines' MD5 tells copies apart.
// Only the records not stored now are looked up, each by the primary key whatever the
// planner's statistics say of a table still filling, in the table as it was before this
// statement.
constexpr const char* kInsert = R"(
WITH batch AS MATERIALIZED (
  SELECT b.*, md5(b.line) AS digest
  FROM unnest(string_to_array($1, E'\n')::uuid[], string_to_array($2, E'\n')::timestamptz[], $3::text[],
              string_to_array($4, E'\n'), $5::bigint[], $6::text[], $7::text[], $8::text[], $9::text[], $10::text[],
              $11::text[], $12::bigint[])
    AS b(id, started, bench, line, esn, result, command, board_version, settings_version, failure_kind, stage,
         pages_written)),
stored AS (
  INSERT INTO fieldkit_history (id, started, esn, result, command, bench, board_version, settings_version,
                                failure_kind, stage, pages_written, record, record_md5)
  SELECT id, started, esn, result, command, bench, board_version, settings_version, failure_kind, stage,
         pages_written, line::json, digest
  FROM batch -- in the batch's order, which received_order keeps
  ON CONFLICT (id) DO NOTHING RETURNING id),
differing AS (
  SELECT id, bench, line, digest FROM batch b
  WHERE NOT EXISTS (SELECT 1 FROM stored s WHERE s.id = b.id)
    AND (SELECT h.record_md5 FROM fieldkit_history h WHERE h.id = b.id) <> b.digest),
kept AS (
  INSERT INTO fieldkit_conflict (id, bench, record, record_md5) SELECT id, bench, line::json, digest FROM differing
  ON CONFLICT DO NOTHING RETURNING 1)
SELECT (SELECT count(*) FROM stored), (SELECT count(*) FROM kept), (SELECT string_agg(DISTINCT id::text, ' ') FROM differing))";

// The two group roles and what they may do. Only the administrator may change or delete
// what the benches stored; who stored a record, from where and when, the server fills in.
constexpr const char* kSetUpRoles = R"(
DO $$ BEGIN
IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '{bench}') THEN CREATE ROLE {bench} NOLOGIN; END IF;
IF NOT EXISTS (SELECT FROM pg_roles WHERE rolname = '{reader}') THEN CREATE ROLE {reader} NOLOGIN; END IF;
END $$;
ALTER TABLE fieldkit_schema OWNER TO CURRENT_USER;
ALTER TABLE fieldkit_history OWNER TO CURRENT_USER;
ALTER TABLE fieldkit_conflict OWNER TO CURRENT_USER;
REVOKE ALL ON fieldkit_schema, fieldkit_history, fieldkit_conflict FROM PUBLIC, {bench}, {reader};
GRANT SELECT ON fieldkit_schema TO {bench}, {reader};
GRANT SELECT (id, record_md5), INSERT (id, started, esn, result, command, bench, board_version, settings_version,
  failure_kind, stage, pages_written, record, record_md5) ON fieldkit_history TO {bench};
GRANT INSERT (id, bench, record, record_md5) ON fieldkit_conflict TO {bench};
GRANT SELECT ON fieldkit_history, fieldkit_conflict TO {reader};
)";

constexpr const char* kHolding = "SELECT id::text FROM fieldkit_history WHERE id = ANY($1::uuid[])";

constexpr const char* kSelectRecords = R"(
WITH chosen AS (
  SELECT id, record, started, received FROM fieldkit_history
  WHERE ($1::bigint IS NULL OR esn = $1::bigint)
    AND ($2::timestamptz IS NULL OR started >= $2::timestamptz)
    AND (NOT $3::boolean OR result = 'failure'))
SELECT record::text, false, started, received FROM chosen
UNION ALL
SELECT c.record::text, true, h.started, c.received FROM fieldkit_conflict c JOIN chosen h ON h.id = c.id
ORDER BY 3, 4)";

// An upgrade that did not finish but reached the erase: $1 holds the stages from the erase on;
// a record without a stage reached it when it wrote pages. Never null.
constexpr const char* kLeftIncomplete = "(command = 'upgrade' AND result <> 'success' AND "
                                        "coalesce(stage = ANY($1::text[]), coalesce(pages_written, 0) > 0))";

constexpr const char* kUtc = "'YYYY-MM-DD\"T\"HH24:MI:SS\"Z\"'";

// Of each radio the newest record, as the server received them, that tells its firmware:
// chosen from the index alone, then the few columns shown read from those records.
std::string fleetStatement()
{
    return std::string(R"(
WITH latest AS (
  SELECT DISTINCT ON (esn) id, esn,
    CASE WHEN )") + kLeftIncomplete + R"( THEN 'incomplete'
         WHEN command = 'upgrade' AND result = 'success' THEN 'written' ELSE 'read' END AS state,
    CASE WHEN command = 'upgrade' AND result = 'success' THEN settings_version
         WHEN NOT )" + kLeftIncomplete + R"( THEN board_version END AS firmware
  FROM fieldkit_history
  WHERE esn IS NOT NULL
    AND (board_version IS NOT NULL OR (command = 'upgrade' AND result = 'success') OR )" + kLeftIncomplete + R"()
  ORDER BY esn, received DESC, received_order DESC)
SELECT l.esn, l.firmware, l.state, h.record->>'started', to_char(h.received AT TIME ZONE 'UTC', )" + kUtc + R"(),
  extract(epoch FROM h.received - h.started) - CASE WHEN json_typeof(h.record->'seconds') = 'number'
                                                    THEN (h.record->>'seconds')::float8 ELSE 0 END,
  h.bench, h.command, h.result, h.record->>'message'
FROM latest l JOIN fieldkit_history h ON h.id = l.id
WHERE $2::text IS NULL OR l.state = 'incomplete' OR l.firmware IS DISTINCT FROM $2::text
ORDER BY l.esn)";
}

// Each bench's runs over the period, from the index on bench alone; its failure kinds by a
// second look at the same index.
std::string failuresStatement()
{
    const std::string since = "($2::timestamptz IS NULL OR received >= $2::timestamptz)";
    return std::string(R"(
SELECT bench, count(*), count(*) FILTER (WHERE result = 'failure'),
  count(*) FILTER (WHERE result = 'failure' AND )") + kLeftIncomplete + R"(),
  count(DISTINCT esn) FILTER (WHERE result = 'failure'),
  to_char(max(received) FILTER (WHERE result = 'failure') AT TIME ZONE 'UTC', )" + kUtc + R"(),
  (SELECT string_agg(kind || ' ' || n, ', ' ORDER BY n DESC, kind) FROM (
     SELECT coalesce(failure_kind, 'unknown') AS kind, count(*) AS n FROM fieldkit_history k
     WHERE k.bench = h.bench AND k.result = 'failure' AND )" + since + R"( GROUP BY 1) AS kinds)
FROM fieldkit_history h WHERE )" + since + R"(
GROUP BY bench ORDER BY 3 DESC, 1)";
}

// The stages from the erase on, short of done, as a PostgreSQL array: {erasing,...}.
std::string boardChangingStages()
{
    std::string stages;
    for (auto stage = UpgradeStage::Erasing; stage != UpgradeStage::Done;
         stage = static_cast<UpgradeStage>(static_cast<int>(stage) + 1))
        stages += (stages.empty() ? "" : ",") + std::string(keyOf(stage));
    return '{' + stages + '}';
}

std::optional<std::string_view> viewOf(const std::string& text)
{
    return text;
}

std::optional<std::string_view> viewOf(const std::optional<std::string>& text)
{
    return text ? std::optional<std::string_view>(*text) : std::nullopt;
}

// {"a",NULL,"b"}: a PostgreSQL array of these texts, each quoted.
std::string arrayLiteral(const std::vector<std::optional<std::string_view>>& values)
{
    std::string literal = "{";
    for (const auto& value : values) {
        if (literal.size() > 1)
            literal += ',';
        if (!value) {
            literal += "NULL";
            continue;
        }
        literal += '"';
        for (const char c : *value) {
            if (c == '"' || c == '\\')
                literal += '\\';
            literal += c;
        }
        literal += '"';
    }
    return literal + '}';
}

// A bench's role may add records but not read them.
std::optional<Failure> asReadFailure(std::optional<Failure> failure)
{
    if (failure && failure->kind == FailureKind::Permission)
        failure->text = "this role may not read the shop database's records (" + failure->text +
                        "): its administrator can give it the readers' role that `" + kSetUpCommand + "` made";
    return failure;
}

std::string textOr(const std::optional<std::string>& cell)
{
    return cell.value_or("");
}

std::size_t countIn(const std::optional<std::string>& cell)
{
    return cell ? std::strtoull(cell->c_str(), nullptr, 10) : 0;
}

} // namespace

std::string databaseNamed(const std::filesystem::path& settingsFile)
{
    if (const char* named = std::getenv(kDatabaseVariable); named != nullptr && *named != '\0')
        return named;
    return settings::readHistoryDatabaseSetting(settingsFile);
}

bool isRoleName(std::string_view name)
{
    return !name.empty() && name.size() <= 63 && !(name.front() >= '0' && name.front() <= '9') &&
           std::all_of(name.begin(), name.end(),
                       [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_'; });
}

Database::Database(Clock& clock, Bounds bounds) : clock_(clock), bounds_(bounds) {}

Database::~Database() = default;

std::string Database::where() const
{
    return session_ != nullptr ? session_->where() : std::string();
}

bool Database::hasTimeFor(std::chrono::milliseconds needed)
{
    if (!bounds_.whole)
        return true;
    const auto spent = std::chrono::milliseconds(clock_.tickMs() - openedAt_);
    return spent + needed <= *bounds_.whole;
}

std::optional<Failure> Database::open(const std::string& connection)
{
    openedAt_ = clock_.tickMs();
    std::optional<Failure> failure;
    const SqlModule* module = sqlModule(&failure);
    if (module == nullptr)
        return failure;
    const auto connect = bounds_.whole ? std::min(bounds_.connect, *bounds_.whole) : bounds_.connect;
    session_ = module->open(connection, clock_, connect, bounds_.answer, &failure);
    if (session_ == nullptr)
        return failure;
    return ensureSchema();
}

std::optional<Failure> Database::execute(std::string_view sql, const std::vector<std::optional<std::string>>& parameters,
                                         Rows* rows)
{
    if (auto failure = send(sql, parameters))
        return failure;
    return receive(rows);
}

std::optional<Failure> Database::send(std::string_view sql, const std::vector<std::optional<std::string>>& parameters)
{
    if (session_ == nullptr)
        return Failure{FailureKind::Statement, "the shop database's connection is closed"};
    answerBy_ = clock_.tickMs() + static_cast<std::uint32_t>(bounds_.answer.count());
    if (bounds_.whole) {
        const std::uint32_t end = openedAt_ + static_cast<std::uint32_t>(bounds_.whole->count());
        if (static_cast<std::int32_t>(end - answerBy_) < 0)
            answerBy_ = end;
    }
    return closedOnTimeout(session_->send(sql, parameters, answerBy_));
}

std::optional<Failure> Database::receive(Rows* rows)
{
    if (session_ == nullptr)
        return Failure{FailureKind::Statement, "the shop database's connection is closed"};
    return closedOnTimeout(session_->receive(rows, answerBy_));
}

std::optional<Failure> Database::closedOnTimeout(std::optional<Failure> failure)
{
    // A session that timed out on this side is closed: nothing more goes through it.
    if (failure && failure->kind == FailureKind::Timeout)
        session_.reset();
    return failure;
}

std::optional<Failure> Database::ensureSchema()
{
    Rows found;
    if (auto failure = execute("SELECT to_regclass('fieldkit_schema') IS NOT NULL", {}, &found))
        return failure;
    int version = 0;
    if (found.rows.at(0).at(0) == "t") {
        Rows schema;
        if (auto failure = execute("SELECT version, database_id FROM fieldkit_schema", {}, &schema))
            return failure;
        if (!schema.rows.empty() && schema.rows[0][0] && schema.rows[0][1]) {
            version = std::atoi(schema.rows[0][0]->c_str());
            databaseId_ = *schema.rows[0][1];
        }
    }
    if (version > kShopSchemaVersion)
        return Failure{FailureKind::NewerSchema, "the shop database's tables are of version " + std::to_string(version) +
                                                     ", set up by a newer FieldKit; this one knows version " +
                                                     std::to_string(kShopSchemaVersion) +
                                                     " at most: update FieldKit on this bench"};
    if (version == kShopSchemaVersion)
        return std::nullopt;
    Rows ignored;
    if (auto failure = execute(std::string(kTakeSchemaLock) + kSchema, {}, &ignored)) {
        if (failure->kind != FailureKind::Permission)
            return failure;
        return Failure{FailureKind::OlderSchema,
                       version == 0 ? "the shop database has no FieldKit tables yet, and this role may not make them: "
                                      "have its administrator run `" + std::string(kSetUpCommand) + "`"
                                    : "the shop database's tables are of version " + std::to_string(version) +
                                          ", older than this FieldKit's " + std::to_string(kShopSchemaVersion) +
                                          ", and this role may not bring them forward: have the database's "
                                          "administrator run `" + kSetUpCommand + "`"};
    }
    Rows schema;
    if (auto failure = execute("SELECT database_id FROM fieldkit_schema", {}, &schema))
        return failure;
    if (schema.rows.empty() || !schema.rows[0][0])
        return Failure{FailureKind::Statement, "the shop database's tables could not be set up"};
    databaseId_ = *schema.rows[0][0];
    return std::nullopt;
}

std::optional<Failure> Database::insert(std::span<const Outgoing> batch, Inserted* inserted)
{
    auto failure = sendInsert(batch);
    return failure ? failure : receiveInserted(inserted);
}

std::optional<Failure> Database::sendInsert(std::span<const Outgoing> batch)
{
    // Ids, times and lines hold no newline; the other texts go as arrays.
    std::string ids, starts, lines;
    for (const auto& record : batch) {
        const char* separator = ids.empty() ? "" : "\n";
        ids += separator + record.id;
        starts += separator + record.started;
        lines += separator + record.line;
    }
    using Field = std::optional<std::string_view> (*)(const Outgoing&);
    const auto column = [&batch](Field field) {
        std::vector<std::optional<std::string_view>> values;
        for (const auto& record : batch)
            values.push_back(field(record));
        return arrayLiteral(values);
    };
    return send(kInsert, {ids, starts, column([](const Outgoing& r) { return viewOf(r.bench); }),
                          lines, column([](const Outgoing& r) { return viewOf(r.esn); }),
                          column([](const Outgoing& r) { return viewOf(r.result); }),
                          column([](const Outgoing& r) { return viewOf(r.command); }),
                          column([](const Outgoing& r) { return viewOf(r.boardVersion); }),
                          column([](const Outgoing& r) { return viewOf(r.settingsVersion); }),
                          column([](const Outgoing& r) { return viewOf(r.failureKind); }),
                          column([](const Outgoing& r) { return viewOf(r.stage); }),
                          column([](const Outgoing& r) { return viewOf(r.pagesWritten); })});
}

std::optional<Failure> Database::receiveInserted(Inserted* inserted)
{
    Rows rows;
    if (auto failure = receive(&rows))
        return failure;
    const auto& counts = rows.rows.at(0);
    inserted->stored = countIn(counts.at(0));
    inserted->conflictsKept = countIn(counts.at(1));
    inserted->conflicts.clear();
    const std::string differing = textOr(counts.at(2));
    for (std::size_t at = 0; at < differing.size(); at += 37) // uuids of 36 characters, each followed by a space
        inserted->conflicts.push_back(differing.substr(at, 36));
    return std::nullopt;
}

std::optional<Failure> Database::holding(const std::vector<std::string>& ids, std::set<std::string>* held)
{
    std::string array = "{";
    for (const auto& id : ids)
        array += (array.size() > 1 ? "," : "") + id;
    Rows rows;
    if (auto failure = execute(kHolding, {array + '}'}, &rows))
        return failure;
    for (const auto& row : rows.rows)
        held->insert(textOr(row.at(0)));
    return std::nullopt;
}

std::optional<Failure> Database::readRecords(const history::Filter& filter, history::HistoryContents* contents,
                                             std::size_t* conflicting)
{
    Rows rows;
    std::optional<std::string> esn;
    if (filter.esn)
        esn = std::to_string(*filter.esn);
    if (auto failure = execute(kSelectRecords, {esn, filter.since, filter.failedOnly ? "true" : "false"}, &rows))
        return asReadFailure(std::move(failure));
    for (auto& row : rows.rows) {
        history::Record record = history::parseRecordLine(textOr(row.at(0)));
        if (record.is_discarded() || !history::isRecord(record)) {
            ++contents->skippedLines;
            continue;
        }
        if (conflicting != nullptr && row.at(1) == "t")
            ++*conflicting;
        contents->records.push_back({std::move(record), textOr(row[0])});
    }
    return std::nullopt;
}

std::optional<Failure> Database::readFleet(const std::optional<std::string>& version, std::vector<RadioState>* radios)
{
    Rows rows;
    if (auto failure = execute(fleetStatement(), {boardChangingStages(), version}, &rows))
        return asReadFailure(std::move(failure));
    for (const auto& row : rows.rows) {
        RadioState radio;
        radio.esn = static_cast<std::uint32_t>(countIn(row.at(0)));
        radio.firmware = textOr(row.at(1));
        const std::string state = textOr(row.at(2));
        radio.state = state == "written"      ? FirmwareState::Written
                      : state == "incomplete" ? FirmwareState::Incomplete
                                              : FirmwareState::Read;
        radio.started = textOr(row.at(3));
        radio.received = textOr(row.at(4));
        radio.receivedAfter = std::strtod(textOr(row.at(5)).c_str(), nullptr);
        radio.bench = textOr(row.at(6));
        radio.command = textOr(row.at(7));
        radio.result = textOr(row.at(8));
        radio.message = textOr(row.at(9));
        radios->push_back(std::move(radio));
    }
    return std::nullopt;
}

std::optional<Failure> Database::readFailures(const std::optional<std::string>& since,
                                              std::vector<BenchFailures>* benches)
{
    Rows rows;
    if (auto failure = execute(failuresStatement(), {boardChangingStages(), since}, &rows))
        return asReadFailure(std::move(failure));
    for (const auto& row : rows.rows)
        benches->push_back({textOr(row.at(0)), countIn(row.at(1)), countIn(row.at(2)), countIn(row.at(3)),
                            countIn(row.at(4)), textOr(row.at(5)), textOr(row.at(6))});
    return std::nullopt;
}

std::optional<Failure> Database::setUp(const std::string& benchRole, const std::string& readerRole)
{
    if (!isRoleName(benchRole) || !isRoleName(readerRole)) // they go into the statement as they are
        return Failure{FailureKind::Statement, "a role name holds other characters than a-z, 0-9 and _"};
    std::string statement = std::string(kTakeSchemaLock) + kSetUpRoles;
    for (const auto& [mark, role] : {std::pair{"{bench}", benchRole}, {"{reader}", readerRole}})
        for (auto at = statement.find(mark); at != std::string::npos; at = statement.find(mark, at))
            statement.replace(at, std::string_view(mark).size(), role);
    Rows ignored;
    auto failure = execute(statement, {}, &ignored);
    if (failure && failure->kind == FailureKind::Permission)
        failure->text += " (setting up needs a role that may create roles and owns the tables, or a superuser)";
    return failure;
}

} // namespace fieldkit::shop
