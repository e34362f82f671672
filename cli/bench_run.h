#pragma once

// A bench on a terminal: the boards on several COM ports upgraded at once, as
// `fieldkit-cli upgrade --port 1 --port 2 ...` runs them. The session runs the bench; this
// shows it.

#include "cli/board_port.h"
#include "cli/terminal_prompts.h"
#include "session/front_end.h"

#include <ostream>
#include <vector>

namespace fieldkit::cli {

// Throws CLI::ValidationError (bad usage) when a port is given twice, or two of them map to one
// device (a link to the other's device, say): two runs on one cable would garble each other's
// frames. Checked before any port is opened; with --simulate every port has an emulated board
// of its own.
void checkBenchPorts(const BoardPortOptions& board, const std::vector<int>& ports);

struct BenchPlan {
    std::vector<int> ports;  // COM ports 1 to 4, each once
    BoardPortOptions board;  // --simulate puts an emulated board behind every port
    AnswerPolicy policy;     // --yes and --force, as in a single run
};

// Runs the bench with a line per port on the terminal and prints a summary. Returns the exit
// status: 0 when every board succeeded, 1 when any failed, 3 when none failed but some were
// declined, 130/143 when interrupted.
int runBench(const BenchPlan& plan);

// The table at the end of a bench: port, ESN, board version before, result, time taken and
// the first line of the message that stopped a failed run.
void printBenchSummary(std::ostream& out, const std::vector<session::PortOutcome>& outcomes);

} // namespace fieldkit::cli
