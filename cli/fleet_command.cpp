#include "cli/fleet_command.h"

#include "cli/exit_status.h"
#include "cli/history_command.h"
#include "history/history_table.h"
#include "settings/app_settings.h"
#include "shop/fleet.h"
#include "shop/shop_database.h"

#include <iostream>
#include <memory>

namespace fieldkit::cli {
namespace {

struct FleetOptions {
    std::string format = "table";
    std::string version;
    bool all = false;
    bool failures = false;
    std::string since;
};

shop::ReportFormat formatNamed(const std::string& name)
{
    return name == "csv" ? shop::ReportFormat::Csv : name == "json" ? shop::ReportFormat::Json : shop::ReportFormat::Table;
}

int runFailures(const FleetOptions& options)
{
    std::optional<std::string> since;
    if (!options.since.empty() && !(since = history::parseSince(options.since))) {
        std::cerr << "fieldkit-cli fleet: --since " << options.since
                  << " is not a date (YYYY-MM-DD or YYYY-MM-DDTHH:MM:SS, in UTC)\n";
        return kExitUsage;
    }
    std::vector<shop::BenchFailures> benches;
    if (!readShopDatabase([&](shop::Database& database) { return database.readFailures(since, &benches); }))
        return kExitFailed;
    shop::writeFailures(std::cout, formatNamed(options.format), benches);
    return kExitDone;
}

int runFleetCommand(const FleetOptions& options)
{
    if (options.failures)
        return runFailures(options);
    std::optional<std::string> version;
    if (!options.all) {
        version = options.version.empty() ? settings::readFirmwareVersionSetting(settings::settingsFile())
                                          : options.version;
        if (version == settings::kUndefinedVersion) {
            std::cerr << "Note: no --version, and AppConfig.ini names no Version: every radio is listed.\n";
            version.reset();
        }
    }
    std::vector<shop::RadioState> radios;
    if (!readShopDatabase([&](shop::Database& database) { return database.readFleet(version, &radios); }))
        return kExitFailed;
    shop::writeFleet(std::cout, formatNamed(options.format), radios);
    return kExitDone;
}

} // namespace

void addFleetCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<FleetOptions>();
    CLI::App* command = app.add_subcommand(
        "fleet", "From the shop database: the radios that do not hold a version, by ESN, with where and when each "
                 "was last seen; or the failures at each bench");
    command->add_option("--format", options->format, "table (default), csv or json (one object per line)")
        ->check(CLI::IsMember({"table", "csv", "json"}));
    auto* version = command->add_option(
        "--version", options->version,
        "Only the radios not known to hold this version (default: Version in AppConfig.ini's [Firmware] section)");
    command->add_flag("--all", options->all, "Every radio, whatever firmware it holds")->excludes(version);
    auto* failures = command->add_flag("--failures", options->failures,
                                       "Each bench's runs and failures instead, most failures first");
    failures->excludes(version)->excludes("--all");
    command->add_option("--since", options->since,
                        "With --failures: only records the database received on or after this UTC date "
                        "(YYYY-MM-DD[THH:MM[:SS]])")
        ->needs(failures);
    command->callback([options, &exitStatus] { exitStatus = runFleetCommand(*options); });
}

} // namespace fieldkit::cli
