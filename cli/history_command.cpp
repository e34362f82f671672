#include "cli/history_command.h"

#include "cli/exit_status.h"
#include "history/history_file.h"
#include "history/history_table.h"

#include <filesystem>
#include <iostream>
#include <memory>

namespace fieldkit::cli {
namespace {

struct HistoryOptions {
    std::string esn;
    std::string since;
    bool failed = false;
    std::string format = "table";
};

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

    const auto file = history::historyFile();
    if (file.empty()) {
        std::cerr << "Error: no folder for the history was found (HOME is not set); set FIELDKIT_HISTORY.\n";
        return kExitFailed;
    }
    std::string error;
    const auto contents = history::readHistory(file, &error);
    if (!contents) {
        std::cerr << "Error: the history cannot be read: " << error << '\n';
        return kExitFailed;
    }
    std::error_code missing;
    if (!std::filesystem::exists(file, missing))
        std::cerr << "Note: nothing is recorded yet: " << file.string() << " does not exist.\n";
    if (contents->skippedLines > 0)
        std::cerr << "Note: " << contents->skippedLines << " line" << (contents->skippedLines == 1 ? "" : "s") << " of "
                  << file.string() << " " << (contents->skippedLines == 1 ? "is" : "are")
                  << " not a whole record and " << (contents->skippedLines == 1 ? "was" : "were") << " skipped.\n";

    const auto chosen = history::selectRecords(*contents, filter);
    if (options.format == "csv")
        history::writeCsv(std::cout, chosen);
    else if (options.format == "json")
        history::writeJsonLines(std::cout, chosen);
    else
        history::writeTable(std::cout, chosen);
    return kExitDone;
}

} // namespace

void warnIfNotRecorded(const std::optional<std::string>& failure, const char* command, std::ostream& warnings)
{
    if (failure)
        warnings << "Warning: This " << history::runName(history::UpgradeRun(command))
                 << " was not recorded in the history: " << *failure << '\n';
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
    command->add_option("--format", options->format, "table (default), csv or json (the stored JSON Lines)")
        ->check(CLI::IsMember({"table", "csv", "json"}));
    command->callback([options, &exitStatus] { exitStatus = runHistoryCommand(*options); });
}

} // namespace fieldkit::cli
