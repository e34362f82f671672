#pragma once

// A bench: the boards on several COM ports upgraded at once, each by a whole upgrade of its own
// on a thread of its own. The firmware files are read, and any question about them asked, once
// before any board is touched; files that cannot be used are recorded as every port's run, and
// no board's line is even made. A board that fails never stops the others; a stop ends every
// run at its next safe point. The front ends show it through a BenchView.

#include "core/clock.h"
#include "core/stop.h"
#include "session/front_end.h"
#include "session/session.h"
#include "settings/app_settings.h"

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace fieldkit::session {

// The line to one port's board, as the front end makes it.
struct BenchLine {
    LinkFactory makeLink;
    std::string emulatedBoard; // where the emulated board behind the port is; "" for the radio
    Clock* clock = nullptr;    // the run's time; none: real time
};

struct BenchPlan {
    std::vector<int> ports; // COM ports 1 to 4, each once
    std::filesystem::path settingsFile = settings::settingsFile(); // the firmware version; the port mapping
    std::filesystem::path firmwareDirectory = ".";
    bool simulated = false; // emulated boards stand behind the ports
    // Makes the line to the board on a port: called once a port, on the thread that runs the
    // bench, once the firmware files are usable and before any run starts (an emulated board
    // starts with its line). May throw std::exception when a line cannot be made.
    std::function<BenchLine(int port)> line;
};

struct BenchOutcome {
    bool filesUsable = false;
    std::vector<PortOutcome> ports; // in the order of the plan's ports

    // Every port's result, for the exit status (session/endings.h).
    std::vector<flash::RunResult> results() const;
};

// The ports of a bench written as "COM1,COM3" or "1,3" (spaces allowed, "com" in any case);
// nothing when a part names no COM port from 1 to 4.
std::optional<std::vector<int>> parseBenchPorts(std::string_view text);
// The ports kept in the settings file ("Bench"/"Ports"); none when it keeps none that can be read.
std::vector<int> readBenchPorts(const std::filesystem::path& settingsFile);
// Keeps `ports` as "COM1,COM3"; false with the system's words in `error` when it cannot.
bool writeBenchPorts(const std::filesystem::path& settingsFile, const std::vector<int>& ports, std::string* error);

// Why these ports cannot make a bench: one given twice, or two that `settingsFile` maps to one
// device (two runs would drive one board at once; each emulated board has a line of its own);
// nothing when they can.
std::optional<std::string> benchPortsConflict(const std::vector<int>& ports, const std::filesystem::path& settingsFile,
                                              bool simulated);

// Runs the bench and returns once every port's run has ended and been recorded; a console
// closing meanwhile waits for the last record (session/pending_records.h). `stopping` tells,
// as for one run, when the front end knows of a stop before `stop` does.
BenchOutcome runBench(const BenchPlan& plan, BenchView& view, UpgradeStop& stop, const std::function<bool()>& stopping);

// "success", "failed", "declined" or "interrupted".
const char* resultText(flash::RunResult result);

// One port's row of the summary a bench ends with.
struct SummaryRow {
    std::string port;          // "COM1"
    std::string esn;           // "not read" when the run did not read it
    std::string versionBefore; // the board's firmware version as the run found it, or "not read"
    std::string result;        // resultText
    std::string time;          // "35.2 s"
    std::string message;       // the first line of the message that stopped a failed run
};
SummaryRow summaryRow(const PortOutcome& outcome);

// Where the port's board stands after the bench was stopped: what it holds now, and what to do.
std::string whereBoardStands(const PortOutcome& outcome);
// Once a stop ended any of the bench's runs, where every port's board stands, a line a port
// ("COM1: ..."); nothing when no run was stopped.
std::vector<std::string> whereBoardsStand(const BenchOutcome& outcome);

} // namespace fieldkit::session
