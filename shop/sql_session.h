#pragma once

// What the shop needs of a database connection, and the entry point of the module that makes
// one. The module (shop/postgresql) is the only code that links the PostgreSQL client library;
// on Linux it is loaded when a database is named, so that every other command starts without
// that library and the many it brings along. Everything else of the shop, the statements
// included, lives on this side.

#include "core/clock.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldkit::shop {

enum class FailureKind {
    BadConnectionString, // libpq cannot parse it
    PasswordInString,    // passwords belong in the password file or PGPASSWORD
    TlsUnavailable,      // sslmode asks for TLS this build of libpq does not have
    ModuleMissing,       // the database module or the client library it needs is not installed
    Connect,             // refused, unreachable, wrong password, unknown database
    Timeout,             // the server did not answer within the bound
    NewerSchema,         // the tables were set up by a newer FieldKit
    OlderSchema,         // the tables are older and this role may not bring them forward
    Permission,          // the role may not do what was asked
    Refused,             // the server refused the data of a statement (a value out of range, a constraint)
    Statement,           // the server failed a statement otherwise, or the connection broke
    LocalFile,           // the history file on this bench, or its note, cannot be read or written
};

struct Failure {
    FailureKind kind;
    std::string text; // never holds a password nor any part of a connection string
};

struct Rows {
    std::vector<std::vector<std::optional<std::string>>> rows;
};

class SqlSession {
public:
    virtual ~SqlSession() = default;

    // Sends one statement with its parameters (none: several statements, as one transaction)
    // whole to the server, waiting until `deadline`, a tick of the clock given at opening; the
    // server runs it while this side goes on.
    virtual std::optional<Failure> send(std::string_view sql, const std::vector<std::optional<std::string>>& parameters,
                                        std::uint32_t deadline) = 0;
    // Waits for the whole answer to the statement sent until `deadline`.
    virtual std::optional<Failure> receive(Rows* rows, std::uint32_t deadline) = 0;

    std::optional<Failure> execute(std::string_view sql, const std::vector<std::optional<std::string>>& parameters,
                                   Rows* rows, std::uint32_t deadline)
    {
        auto failure = send(sql, parameters, deadline);
        return failure ? failure : receive(rows, deadline);
    }

    // "127.0.0.1:5432/shop", for messages.
    virtual std::string where() const = 0;
};

// Connects within `connectBound` and tells the server to give up on any statement after
// `statementBound`. Nothing, with `failure` set, when it cannot.
using OpenSqlSession = std::unique_ptr<SqlSession> (*)(const std::string& connection, Clock& clock,
                                                       std::chrono::milliseconds connectBound,
                                                       std::chrono::milliseconds statementBound,
                                                       std::optional<Failure>* failure);

// Raised whenever this interface changes, so that a module of another build is refused.
inline constexpr int kSqlSessionInterface = 1;

struct SqlModule {
    int interface;
    const char* fieldkitVersion;
    OpenSqlSession open;
};

// The module's one exported symbol.
inline constexpr const char* kSqlModuleSymbol = "fieldkit_shop_sql_module";

// The module, loaded the first time it is asked for (on Linux from lib/fieldkit/modules
// beside the program's bin folder, or the file FIELDKIT_SHOP_MODULE names); nothing, with
// `failure` set to what is missing, when it cannot be loaded.
const SqlModule* sqlModule(std::optional<Failure>* failure);

} // namespace fieldkit::shop
