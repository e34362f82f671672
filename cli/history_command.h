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

// Opens the shop database named for this bench (or `connection`) and reads it through `read`.
// Whether it was read; when it is not named, or cannot be reached or read, an Error line on
// stderr says why.
bool readShopDatabase(const std::function<std::optional<shop::Failure>(shop::Database&)>& read,
                      const std::string& connection = {});

// A Warning line on `warnings` when the record of a run (history::kUpgradeCommand or
// kInfoCommand) could not be written; the run's outcome stands either way.
void warnIfNotRecorded(const session::Recorded& recorded, const char* command, std::ostream& warnings);

// After a run's result is shown: sends what waits to the shop database within a few seconds,
// with a Warning line on `warnings` for whatever went wrong. Not after Ctrl+C. Never changes
// the run's exit status.
void pushAfterRun(std::ostream& warnings);

} // namespace fieldkit::cli
