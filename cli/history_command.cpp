#include "cli/history_command.h"

#include "cli/exit_status.h"
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
    if (!readShopDatabase([&](shop::Database& database) { return database.readRecords(filter, &contents); }))
        return kExitFailed;
    history::RecordListing listing(filter, listFormat(format), true);
    for (const auto& stored : contents.records)
        listing.add(stored.record, stored.line);
    listing.write(std::cout);
    return kExitDone;
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
    if (report.unsendable > 0)
        std::cerr << "Note: " << report.unsendable << " record" << (report.unsendable == 1 ? "" : "s") << " of "
                  << file.string() << " without a valid start time " << (report.unsendable == 1 ? "stays" : "stay")
                  << " on this bench.\n";
    if (report.sent > 0 || !report.failure) {
        std::cout << (report.sent == 0 ? std::string("Nothing waited: the shop database holds every record of ") + file.string()
                                       : "Sent " + std::to_string(report.sent) + " record" + (report.sent == 1 ? "" : "s") +
                                             " to the shop database")
                  << (report.alreadyStored > 0 ? " (" + std::to_string(report.alreadyStored) + " of them it held already)" : "")
                  << ".\n";
    }
    if (report.failure) {
        std::cerr << "Error: " << report.failure->text << "; the records that were not sent wait on this bench.\n";
        return kExitFailed;
    }
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

bool readShopDatabase(const std::function<std::optional<shop::Failure>(shop::Database&)>& read)
{
    const std::string connection = shop::databaseNamed();
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
    if (recorded.notWritten)
        warnings << "Warning: This " << history::runName(history::UpgradeRun(command))
                 << " was not recorded in the history: " << *recorded.notWritten << '\n';
    if (recorded.notSent)
        warnings << "Warning: " << *recorded.notSent << '\n';
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
    command->require_subcommand(0, 1);
    command->callback([options, push, &exitStatus] {
        if (!push->parsed())
            exitStatus = runHistoryCommand(*options);
    });
}

} // namespace fieldkit::cli
