#include "cli/fleet_command.h"

#include "cli/exit_status.h"
#include "cli/history_command.h"
#include "shop/fleet.h"
#include "shop/shop_database.h"

#include <iostream>
#include <memory>

namespace fieldkit::cli {
namespace {

struct FleetOptions {
    std::string format = "table";
    std::string version;
};

int runFleetCommand(const FleetOptions& options)
{
    std::vector<shop::FleetRow> rows;
    const auto version = options.version.empty() ? std::nullopt : std::optional(options.version);
    if (!readShopDatabase([&](shop::Database& database) { return database.readFleet(version, &rows); }))
        return kExitFailed;
    if (options.format == "csv")
        shop::writeFleetCsv(std::cout, rows);
    else if (options.format == "json")
        shop::writeFleetJson(std::cout, rows);
    else
        shop::writeFleetTable(std::cout, rows);
    return kExitDone;
}

} // namespace

void addFleetCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<FleetOptions>();
    CLI::App* command = app.add_subcommand(
        "fleet", "Each radio's latest run at any bench, from the shop database, by ESN");
    command->add_option("--format", options->format, "table (default), csv or json (one object per line)")
        ->check(CLI::IsMember({"table", "csv", "json"}));
    command->add_option("--version", options->version,
                        "Only the radios whose latest successful upgrade did not write this version, or that never had one");
    command->callback([options, &exitStatus] { exitStatus = runFleetCommand(*options); });
}

} // namespace fieldkit::cli
