#include "cli/history_command.h"

#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "history/history_file.h"
#include "history/history_table.h"
#include "shop/outbox.h"
#include "shop/shop_database.h"

#include <filesystem>
#include <iostream>
#include <memory>

namespace fieldkit::cli {
namespace {

struct HistoryOptions {
    std::string esn;
    std::string since;
    bool failed = false;
    bool database = false;
    std::string format = "table";
};

void noteSkipped(const std::filesystem::path& file, std::size_t skipped)
{
    if (skipped > 0)
        std::cerr << "Note: " << skipped << " line" << (skipped == 1 ? "" : "s") << " of " << file.string() << " "
                  << (skipped == 1 ? "is" : "are") << " not a whole record and " << (skipped == 1 ? "was" : "were")
                  << " skipped.\n";
}

history::ListFormat listFormat(const std::string& format)
{
    if (format == "csv")
        return history::ListFormat::Csv;
    return format == "json" ? history::ListFormat::JsonLines : history::ListFormat::Table;
}

int runDatabaseHistory(const history::Filter& filter, const std::string& format)
{
    history::HistoryContents contents;
    std::size_t conflicting = 0;
    if (!readShopDatabase(
            [&](shop::Database& database) { return database.readRecords(filter, &contents, &conflicting); }))
        return kExitFailed;
    if (conflicting > 0)
        std::cerr << "Note: " << conflicting << (conflicting == 1 ? " record shares its id" : " records share their ids")
                  << " with another record of other contents (the same id recorded at two benches): both copies are "
                     "shown.\n";
    history::RecordListing listing(filter, listFormat(format), true);
    for (const auto& stored : contents.records)
        listing.add(stored.record, stored.line);
    listing.write(std::cout);
    return kExitDone;
}

std::string recordsText(std::size_t count)
{
    return std::to_string(count) + (count == 1 ? " record" : " records");
}

int runPush()
{
    const std::string connection = shop::databaseNamed();
    if (connection.empty()) {
        std::cerr << "Error: " << shop::kNoDatabaseNamed << ".\n";
        return kExitFailed;
    }
    const auto file = history::historyFile();
    if (file.empty()) {
        std::cerr << "Error: no folder for the history was found (HOME is not set); set FIELDKIT_HISTORY.\n";
        return kExitFailed;
    }
    SystemClock clock;
    const shop::PushReport report = shop::pushWaitingRecords(file, connection, clock);
    noteSkipped(file, report.skippedLines);
    if (report.sentAgain)
        std::cerr << "Note: the shop database no longer holds records it had taken (restored from an older backup?): "
                     "they are sent again.\n";
    for (const auto& notice : shop::noticesOf(report, file))
        std::cerr << "Warning: " << notice << '\n';
    for (const auto& setAside : report.setAside)
        std::cerr << "  set aside: the line at byte " << setAside.offset << " (id " << setAside.id
                  << "): " << setAside.reason << '\n';
    if (report.sent > 0 || !report.failure) {
        std::vector<std::string> counts;
        if (report.alreadyStored > 0)
            counts.push_back(std::to_string(report.alreadyStored) + " of them it held already");
        if (!report.conflicts.empty())
            counts.push_back(std::to_string(report.conflicts.size()) + " it held with other contents");
        std::string summary = report.sent == 0 ? "Nothing waited: the shop database holds every record of " + file.string()
                                               : "Sent " + recordsText(report.sent) + " to the shop database";
        for (std::size_t i = 0; i < counts.size(); ++i)
            summary += (i == 0 ? " (" : ", ") + counts[i] + (i + 1 == counts.size() ? ")" : "");
        if (!report.setAside.empty())
            summary += "; " + recordsText(report.setAside.size()) + " set aside";
        std::cout << summary << ".\n";
    }
    if (report.failure) {
        std::cerr << "Error: " << report.failure->text << "; the records that were not sent wait on this bench.\n";
        return kExitFailed;
    }
    return kExitDone;
}

struct SetUpOptions {
    std::string database;
    std::string benchRole = "fieldkit_bench";
    std::string readerRole = "fieldkit_reader";
};

int runSetUp(const SetUpOptions& options)
{
    for (const auto& [option, role] : {std::pair{"--bench-role", options.benchRole}, {"--reader-role", options.readerRole}})
        if (!shop::isRoleName(role)) {
            std::cerr << "fieldkit-cli history setup: " << option << " " << role
                      << " is not a role name (lower-case letters, digits and _, at most 63)\n";
            return kExitUsage;
        }
    if (options.benchRole == options.readerRole) {
        std::cerr << "fieldkit-cli history setup: the bench role and the reader role must differ\n";
        return kExitUsage;
    }
    std::string where;
    if (!readShopDatabase(
            [&](shop::Database& database) {
                where = database.where();
                return database.setUp(options.benchRole, options.readerRole);
            },
            options.database))
        return kExitFailed;
    std::cout << "The shop database at " << where << " is set up (tables of version " << shop::kShopSchemaVersion
              << "). Role " << options.benchRole << " may add records, role " << options.readerRole
              << " may read them; give each bench and each reader a login role of its own in one of them:\n"
              << "  CREATE ROLE north_bench LOGIN PASSWORD '...' IN ROLE " << options.benchRole << ";\n"
              << "  CREATE ROLE manager LOGIN PASSWORD '...' IN ROLE " << options.readerRole << ";\n";
    return kExitDone;
}

int runHistoryCommand(const HistoryOptions& options)
{
    history::Filter filter;
    filter.failedOnly = options.failed;
    if (!options.esn.empty()) {
        filter.esn = history::parseEsn(options.esn);
        if (!filter.esn) {
            std::cerr << "fieldkit-cli history: --esn " << options.esn
                      << " is not an ESN (a decimal number as `info` shows it, or hex after 0x)\n";
            return kExitUsage;
        }
    }
    if (!options.since.empty()) {
        filter.since = history::parseSince(options.since);
        if (!filter.since) {
            std::cerr << "fieldkit-cli history: --since " << options.since
                      << " is not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, in UTC)\n";
            return kExitUsage;
        }
    }

    if (options.database)
        return runDatabaseHistory(filter, options.format);
    const auto file = history::historyFile();
    if (file.empty()) {
        std::cerr << "Error: no folder for the history was found (HOME is not set); set FIELDKIT_HISTORY.\n";
        return kExitFailed;
    }
    // Each record is parsed, kept as it will be shown, and let go: a long history is listed in
    // little more memory than the listing takes.
    history::RecordListing listing(filter, listFormat(options.format));
    std::string error;
    const auto skipped = history::readRecords(
        file, [&listing](history::Record&& record, std::string&& line) { listing.add(record, std::move(line)); }, &error);
    if (!skipped) {
        std::cerr << "Error: the history cannot be read: " << error << '\n';
        return kExitFailed;
    }
    std::error_code missing;
    if (!std::filesystem::exists(file, missing))
        std::cerr << "Note: nothing is recorded yet: " << file.string() << " does not exist.\n";
    noteSkipped(file, *skipped);
    listing.write(std::cout);
    return kExitDone;
}

} // namespace

bool readShopDatabase(const std::function<std::optional<shop::Failure>(shop::Database&)>& read,
                      const std::string& connectionGiven)
{
    const std::string connection = connectionGiven.empty() ? shop::databaseNamed() : connectionGiven;
    if (connection.empty()) {
        std::cerr << "Error: " << shop::kNoDatabaseNamed << ".\n";
        return false;
    }
    SystemClock clock;
    shop::Database database(clock);
    auto failure = database.open(connection);
    if (!failure)
        failure = read(database);
    if (failure)
        std::cerr << "Error: " << failure->text << '\n';
    return !failure;
}

void warnIfNotRecorded(const session::Recorded& recorded, const char* command, std::ostream& warnings)
{
    for (const std::string& warning : session::recordWarnings(command, recorded))
        warnings << "Warning: " << warning << '\n';
}

void pushAfterRun(std::ostream& warnings)
{
    // Asked to end: the program ends now, and the records wait for the next run. A hang-up
    // alone asks nothing of the kind.
    const session::StopSignal signal = session::pendingStopSignal();
    if (signal != session::StopSignal::None && signal != session::StopSignal::HangUp)
        return;
    std::cout << std::flush; // the run's result first, also into a file
    for (const auto& warning : session::pushToShop())
        warnings << "Warning: " << warning << '\n';
}

void addHistoryCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<HistoryOptions>();
    CLI::App* command = app.add_subcommand(
        "history", "Show the recorded upgrades and board reads, newest first (file: $FIELDKIT_HISTORY, else "
                   "$XDG_DATA_HOME/fieldkit/history.jsonl)");
    command->add_option("--esn", options->esn, "Only this board's records (the ESN as `info` shows it, or 0x hex)");
    command->add_option("--since", options->since, "Only runs started on or after this UTC date (YYYY-MM-DD[THH:MM[:SS]])");
    command->add_flag("--failed", options->failed, "Only runs that failed");
    command->add_flag("--database", options->database,
                      "Every bench's records, from the shop database ($FIELDKIT_HISTORY_DATABASE, else Database= in "
                      "AppConfig.ini's [History] section)");
    command->add_option("--format", options->format, "table (default), csv or json (the stored JSON Lines)")
        ->check(CLI::IsMember({"table", "csv", "json"}));
    CLI::App* push = command->add_subcommand("push", "Send the records that wait on this bench to the shop database");
    push->callback([&exitStatus] { exitStatus = runPush(); });
    auto setUp = std::make_shared<SetUpOptions>();
    CLI::App* setUpCommand = command->add_subcommand(
        "setup", "For the shop database's administrator: make or bring forward its tables, and the roles of the benches "
                 "and of the readers");
    setUpCommand->add_option("--database", setUp->database,
                             "The connection string, as a role that may create roles (default: the one named for "
                             "this bench)");
    setUpCommand->add_option("--bench-role", setUp->benchRole, "The benches' group role (default fieldkit_bench)");
    setUpCommand->add_option("--reader-role", setUp->readerRole,
                             "The group role of those who read the shop's history (default fieldkit_reader)");
    setUpCommand->callback([setUp, &exitStatus] { exitStatus = runSetUp(*setUp); });
    command->require_subcommand(0, 1);
    command->callback([options, push, setUpCommand, &exitStatus] {
        if (!push->parsed() && !setUpCommand->parsed())
            exitStatus = runHistoryCommand(*options);
    });
}

} // namespace fieldkit::cli
