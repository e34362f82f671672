#pragma once

// A bench: the boards on several COM ports upgraded at once, each by a whole upgrade of its
// own on a thread of its own, as `fieldkit-cli upgrade --port 1 --port 2 ...` runs them.

#include "cli/board_port.h"
#include "cli/terminal_prompts.h"
#include "flash/upgrade_report.h"

#include <ostream>
#include <string>
#include <vector>

namespace fieldkit::cli {

// Throws CLI::ValidationError (bad usage) when a port is given twice: two runs on one cable
// would garble each other's frames.
void checkBenchPorts(const std::vector<int>& ports);

struct BenchPlan {
    std::vector<int> ports;  // COM ports 1 to 4, each once
    BoardPortOptions board;  // --simulate puts an emulated board behind every port
    AnswerPolicy policy;     // --yes and --force, as in a single run
};

// Loads the firmware files once (asking about them once), then upgrades every port's board
// at the same time, records each run in the upgrade history as it ends, and prints a
// summary. Firmware files that cannot be used are recorded as every port's run. Returns the exit status: 0 when every board succeeded, 1 when any failed, 3 when
// none failed but some were declined, 130/143 when interrupted.
int runBench(const BenchPlan& plan);

struct PortOutcome {
    int port = 0;
    flash::UpgradeReport report;
    double seconds = 0;
    flash::RunResult result = flash::RunResult::Failure;
    std::string adapterHint; // printed after the summary; "" when the adapter was quick enough
};

// The table at the end of a bench: port, ESN, board version before, result, time taken and
// the first line of the message that stopped a failed run.
void printBenchSummary(std::ostream& out, const std::vector<PortOutcome>& outcomes);

} // namespace fieldkit::cli
