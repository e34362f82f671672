#pragma once

// One record of the upgrade history: what an `upgrade` or `info` run did to which board,
// when, where and with which files. The field names are fixed (docs/history.md); other tools
// read them.

#include "flash/upgrade_report.h"
#include "link/board_connection.h"
#include "settings/app_settings.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fieldkit::history {

inline constexpr int kSchemaVersion = 1;
inline constexpr const char* kUpgradeCommand = "upgrade";
inline constexpr const char* kInfoCommand = "info";

// A record keeps its fields in the order they were written.
using Record = nlohmann::ordered_json;

// The name the shop knows this bench by: "Bench" in the settings file's "History" section,
// else the computer's name.
std::string benchName(const std::filesystem::path& settingsFile = settings::settingsFile());

// A new record's id: a random UUID, so records of any bench never collide.
std::string newRecordId();

// A record's id: its own `id`, or for a record written before records had one, a UUID made
// from the SHA-256 of its stored line, the same every time the line is read.
std::string recordIdOf(const Record& record, std::string_view line);

// The bench a record was made at: its `bench`, else (older records) its `host`.
std::string benchOf(const Record& record);

// What the front end knows of one run besides the worker's report. Made when the run
// starts, so that `started` and the run's length cover all of it.
struct UpgradeRun {
    explicit UpgradeRun(std::string commandName);

    std::string command;                 // kUpgradeCommand or kInfoCommand
    int port = 1;                        // the COM port number
    std::string device;                  // the device or port that COM port meant
    bool simulated = false;              // an emulated board stood behind the port
    std::string settingsVersion;         // the settings file's version, which the board's is compared with
    std::string bench = benchName();     // the bench the run is recorded under
    std::chrono::system_clock::time_point started;
    std::chrono::steady_clock::time_point startedSteady;
};

// What the run is called in messages: "upgrade" or "board read".
std::string runName(const UpgradeRun& run);

// The device the COM port means for this program now, by the mapping of `settingsFile`:
// the one place the history asks.
std::string deviceMeantBy(int port, const std::filesystem::path& settingsFile = settings::settingsFile());

// The record of a run that has ended.
Record recordFor(const UpgradeRun& run, const flash::UpgradeReport& report);

// A board read told as a report: the version is read after the connection opened, then the
// ESN, and a failure names the step it stopped at.
flash::UpgradeReport reportOfBoardRead(const link::BoardIdentity& identity,
                                       const std::optional<link::ConnectionFailure>& failure, bool interrupted);

// "success", "failure", "declined" or "interrupted".
std::string resultOf(const flash::UpgradeReport& report);

// "2026-03-01T14:05:09Z".
std::string utcTimestamp(std::chrono::system_clock::time_point time);

// Whether a parsed line is a history record: an object with the fields every record has.
bool isRecord(const Record& value);

// A record nests three levels deep (the record, its files, a file). A line nested deeper
// than this is damaged: copying, printing or sending such a value would recurse as deep.
inline constexpr int kMaxRecordDepth = 32;

// One line of the history as JSON: a discarded value when it is not JSON or nests deeper
// than kMaxRecordDepth. Every reader of records takes lines through it.
Record parseRecordLine(std::string_view line);

} // namespace fieldkit::history
