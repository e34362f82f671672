#pragma once

#include "history/history_record.h"
#include "session/record.h"
#include "shop/shop_database.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace fieldkit::cli {

// `fieldkit-cli history`: the recorded upgrades and board reads, newest first.
void addHistoryCommand(CLI::App& app, int& exitStatus);

// Opens the shop database named for this bench and reads it through `read`. Whether it was
// read; when it is not named, or cannot be reached or read, an Error line on stderr says why.
bool readShopDatabase(const std::function<std::optional<shop::Failure>(shop::Database&)>& read);

// A Warning line on `warnings` when the record of a run (history::kUpgradeCommand or
// kInfoCommand) could not be written, and one when the shop database did not take what
// waits; the run's outcome stands either way.
void warnIfNotRecorded(const session::Recorded& recorded, const char* command, std::ostream& warnings);

} // namespace fieldkit::cli
