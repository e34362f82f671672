// The shop database's connection through libpq: the connection string checked before it is
// used, every wait bounded by the clock, and the server's errors sorted by their SQLSTATE.

#include "shop/postgresql/socket_wait.h"
#include "shop/sql_session.h"

#include <libpq-fe.h>

#include <cstdlib>
#include <cstring>

namespace fieldkit::shop {
namespace {

constexpr const char* kNoPasswords = "FieldKit does not keep passwords: put it in the password file (~/.pgpass, "
                                     "%APPDATA%\\postgresql\\pgpass.conf on Windows) or in PGPASSWORD";

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

std::string secondsText(std::chrono::milliseconds bound)
{
    const auto seconds = (bound.count() + 999) / 1000;
    return std::to_string(seconds) + (seconds == 1 ? " second" : " seconds");
}

bool isUri(std::string_view text)
{
    return text.starts_with("postgresql://") || text.starts_with("postgres://");
}

// Whether libpq would read this dbname as a connection string of its own.
bool looksLikeConnectionString(std::string_view text)
{
    return isUri(text) || text.find('=') != std::string_view::npos;
}

// "user:password@" in a URI's authority, even where the rest of it cannot be parsed.
bool uriHoldsPassword(std::string_view uri)
{
    uri.remove_prefix(uri.find("://") + 3);
    const auto authority = uri.substr(0, uri.find_first_of("/?"));
    const auto at = authority.rfind('@');
    return at != std::string_view::npos && authority.substr(0, at).find(':') != std::string_view::npos;
}

struct OptionsFree {
    void operator()(PQconninfoOption* options) const { PQconninfoFree(options); }
};
using Options = std::unique_ptr<PQconninfoOption, OptionsFree>;

std::string optionOf(const Options& options, const char* keyword)
{
    for (const PQconninfoOption* option = options.get(); option != nullptr && option->keyword != nullptr; ++option)
        if (std::strcmp(option->keyword, keyword) == 0 && option->val != nullptr)
            return option->val;
    return {};
}

// The connection string's own checks: that libpq can read it, and that no password hides in
// it. libpq's own words are never shown here: its parse errors quote the string, password
// included.
std::optional<Failure> checkConnectionString(const std::string& connection)
{
    const auto password = [](const std::string& where) {
        return Failure{FailureKind::PasswordInString, "the shop database's " + where + " holds a password; " + kNoPasswords};
    };
    if (isUri(connection) && uriHoldsPassword(connection))
        return password("URI (user:password@)");
    char* parseError = nullptr;
    const Options options(PQconninfoParse(connection.c_str(), &parseError));
    PQfreemem(parseError);
    if (!options)
        return Failure{FailureKind::BadConnectionString,
                       isUri(connection)
                           ? "the shop database's URI cannot be read: look at its percent-encoding (%41 for A), its "
                             "port and the [ ] around an IPv6 address"
                           : "the shop database's connection string cannot be read: it must be key=value pairs "
                             "separated by spaces, a value with spaces or quotes in single quotes"};
    if (!optionOf(options, "password").empty())
        return password("connection string (password=)");
    if (!optionOf(options, "sslpassword").empty())
        return password("connection string (sslpassword=, the password of the TLS key)");
    // libpq expands only the outer string; a URI left in dbname would be sent to the server
    // as a database name, and end up in its log.
    if (const std::string dbname = optionOf(options, "dbname"); looksLikeConnectionString(dbname)) {
        if (isUri(dbname) && uriHoldsPassword(dbname))
            return password("dbname (a URI with user:password@ inside it)");
        return Failure{FailureKind::BadConnectionString,
                       "the shop database's dbname is itself a connection string or URI; name the database by "
                       "that string alone"};
    }
    std::string sslmode = optionOf(options, "sslmode");
    if (const char* fromEnvironment = std::getenv("PGSSLMODE"); sslmode.empty() && fromEnvironment != nullptr)
        sslmode = fromEnvironment;
    // Without TLS in libpq "prefer" quietly means plain text; these modes must not.
    if (PQsslAttribute(nullptr, "library") == nullptr &&
        (sslmode == "require" || sslmode == "verify-ca" || sslmode == "verify-full"))
        return Failure{FailureKind::TlsUnavailable,
                       "the shop database's connection asks for sslmode=" + sslmode +
                           ", but this FieldKit was built without TLS and cannot encrypt the connection; "
                           "use sslmode=disable only on a network you trust"};
    return std::nullopt;
}

// The service the connection takes its settings from: named in the string, else by PGSERVICE.
std::string serviceNamed(const std::string& connection)
{
    const Options options(PQconninfoParse(connection.c_str(), nullptr));
    std::string service = optionOf(options, "service");
    if (const char* fromEnvironment = std::getenv("PGSERVICE"); service.empty() && fromEnvironment != nullptr)
        service = fromEnvironment;
    return service;
}

// A password that came from a service file's entry: the string had none, and PGPASSWORD is
// the only other place libpq takes one from before it asks the password file.
std::optional<Failure> checkServiceEntry(PGconn* connection, const std::string& service)
{
    if (service.empty())
        return std::nullopt;
    const Options effective(PQconninfo(connection));
    const char* fromEnvironment = std::getenv("PGPASSWORD");
    const std::string password = optionOf(effective, "password");
    const bool fromService = !password.empty() && (fromEnvironment == nullptr || password != fromEnvironment);
    if (!fromService && optionOf(effective, "sslpassword").empty())
        return std::nullopt;
    return Failure{FailureKind::PasswordInString,
                   "the entry of service " + service + " in the service file holds a password; " + kNoPasswords};
}

FailureKind kindOfSqlState(const char* state)
{
    const std::string_view code = state != nullptr ? state : "";
    if (code == "42501")
        return FailureKind::Permission;
    if (code == "57014") // the server's statement_timeout
        return FailureKind::Timeout;
    // Data exceptions, integrity constraints, program limits: what the records hold.
    if (code.starts_with("22") || code.starts_with("23") || code.starts_with("54"))
        return FailureKind::Refused;
    return FailureKind::Statement;
}

class PostgresqlSession final : public SqlSession {
public:
    PostgresqlSession(PGconn* connection, Clock& clock) : connection_(connection), clock_(clock) {}
    ~PostgresqlSession() override
    {
        if (connection_ != nullptr)
            PQfinish(connection_);
    }
    PostgresqlSession(const PostgresqlSession&) = delete;
    PostgresqlSession& operator=(const PostgresqlSession&) = delete;

    std::optional<Failure> connect(std::chrono::milliseconds bound)
    {
        const std::uint32_t deadline = clock_.tickMs() + static_cast<std::uint32_t>(bound.count());
        for (PostgresPollingStatusType state = PGRES_POLLING_WRITING; state != PGRES_POLLING_OK;) {
            if (state == PGRES_POLLING_FAILED || PQstatus(connection_) == CONNECTION_BAD)
                return Failure{FailureKind::Connect,
                               "the shop database cannot be reached: " + oneLine(PQerrorMessage(connection_))};
            const std::string server = where();
            if (auto failure = waitFor(state == PGRES_POLLING_WRITING, deadline, "the connection request")) {
                if (failure->kind == FailureKind::Timeout)
                    failure->text = "the shop database at " + server + " did not answer the connection request within " +
                                    secondsText(bound);
                return failure;
            }
            state = PQconnectPoll(connection_);
        }
        // The server's notices ("already exists, skipping") are not the user's business.
        PQsetNoticeProcessor(connection_, [](void*, const char*) {}, nullptr);
        if (PQsetnonblocking(connection_, 1) != 0)
            return failureOf(FailureKind::Statement, "setting up the connection");
        return std::nullopt;
    }

    std::optional<Failure> send(std::string_view sql, const std::vector<std::optional<std::string>>& parameters,
                                std::uint32_t deadline) override
    {
        if (connection_ == nullptr)
            return Failure{FailureKind::Statement, "the shop database's connection is closed"};
        const std::string statement(sql);
        std::vector<const char*> values;
        for (const auto& parameter : parameters)
            values.push_back(parameter ? parameter->c_str() : nullptr);
        // Without parameters the simple protocol runs several statements as one transaction.
        const int sent = parameters.empty()
                             ? PQsendQuery(connection_, statement.c_str())
                             : PQsendQueryParams(connection_, statement.c_str(), static_cast<int>(values.size()), nullptr,
                                                 values.data(), nullptr, nullptr, 0);
        if (sent == 0)
            return failureOf(FailureKind::Statement, "to take a statement");
        for (int flushed = PQflush(connection_); flushed != 0; flushed = PQflush(connection_)) {
            if (flushed < 0)
                return failureOf(FailureKind::Statement, "to take a statement");
            if (auto failure = waitFor(true, deadline, "a statement"))
                return failure;
            if (PQconsumeInput(connection_) == 0)
                return failureOf(FailureKind::Statement, "to answer");
        }
        return std::nullopt;
    }

    std::optional<Failure> receive(Rows* rows, std::uint32_t deadline) override
    {
        if (connection_ == nullptr)
            return Failure{FailureKind::Statement, "the shop database's connection is closed"};
        std::optional<Failure> failure;
        for (;;) {
            while (PQisBusy(connection_) != 0) {
                if (auto timedOut = waitFor(false, deadline, "a statement"))
                    return timedOut;
                if (PQconsumeInput(connection_) == 0)
                    return failureOf(FailureKind::Statement, "to answer");
            }
            PGresult* answer = PQgetResult(connection_);
            if (answer == nullptr)
                break;
            const ExecStatusType status = PQresultStatus(answer);
            if (status == PGRES_TUPLES_OK && rows != nullptr) {
                for (int row = 0; row < PQntuples(answer); ++row) {
                    auto& cells = rows->rows.emplace_back();
                    for (int column = 0; column < PQnfields(answer); ++column)
                        cells.push_back(PQgetisnull(answer, row, column) != 0
                                            ? std::nullopt
                                            : std::optional<std::string>(PQgetvalue(answer, row, column)));
                }
            } else if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK && !failure) {
                failure = Failure{kindOfSqlState(PQresultErrorField(answer, PG_DIAG_SQLSTATE)),
                                  "the shop database refused a statement: " + oneLine(PQresultErrorMessage(answer))};
            }
            PQclear(answer);
        }
        return failure;
    }

    std::string where() const override
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

private:
    std::optional<Failure> waitFor(bool forWrite, std::uint32_t deadline, const char* what)
    {
        const auto left = static_cast<std::int32_t>(deadline - clock_.tickMs());
        const auto outcome = left <= 0 ? platform::SocketWait::TimedOut
                                       : platform::waitForSocket(PQsocket(connection_), forWrite,
                                                                 std::chrono::milliseconds(left));
        if (outcome == platform::SocketWait::Ready)
            return std::nullopt;
        const std::string text = outcome == platform::SocketWait::TimedOut
                                     ? "the shop database at " + where() + " did not answer " + what + " in time"
                                     : "the shop database's connection failed while waiting for its answer";
        // A connection left in the middle of an answer cannot be used again.
        PQfinish(connection_);
        connection_ = nullptr;
        return Failure{outcome == platform::SocketWait::TimedOut ? FailureKind::Timeout : FailureKind::Statement, text};
    }

    Failure failureOf(FailureKind kind, const std::string& what) const
    {
        return Failure{kind, "the shop database failed " + what + ": " + oneLine(PQerrorMessage(connection_))};
    }

    PGconn* connection_;
    Clock& clock_;
};

std::unique_ptr<SqlSession> openSession(const std::string& connection, Clock& clock,
                                        std::chrono::milliseconds connectBound,
                                        std::chrono::milliseconds statementBound, std::optional<Failure>* failure)
{
    if ((*failure = checkConnectionString(connection)))
        return nullptr;
    // Records are UTF-8: a server that keeps another encoding converts them, or refuses a
    // character it cannot hold, rather than store the bytes as something else.
    const char* keys[] = {"dbname", "client_encoding", "fallback_application_name", nullptr};
    const char* values[] = {connection.c_str(), "UTF8", "fieldkit", nullptr};
    PGconn* started = PQconnectStartParams(keys, values, 1);
    if (started == nullptr) {
        *failure = Failure{FailureKind::Connect, "the shop database cannot be reached: out of memory"};
        return nullptr;
    }
    auto session = std::make_unique<PostgresqlSession>(started, clock);
    // Checked before the server asks for a password: none has been sent yet.
    if ((*failure = checkServiceEntry(started, serviceNamed(connection))))
        return nullptr;
    if ((*failure = session->connect(connectBound)))
        return nullptr;
    // The server gives up on a statement too, so none runs on after this bench stopped waiting.
    if ((*failure = session->execute("SET statement_timeout = " + std::to_string(statementBound.count()), {}, nullptr,
                                     clock.tickMs() + static_cast<std::uint32_t>(statementBound.count()))))
        return nullptr;
    return session;
}

} // namespace
} // namespace fieldkit::shop

extern "C" {
#if defined(_WIN32)
// Linked into the program itself: the Windows build is one static file.
#else
__attribute__((visibility("default")))
#endif
extern const fieldkit::shop::SqlModule fieldkit_shop_sql_module;
const fieldkit::shop::SqlModule fieldkit_shop_sql_module{fieldkit::shop::kSqlSessionInterface, FIELDKIT_VERSION,
                                                         &fieldkit::shop::openSession};
}
