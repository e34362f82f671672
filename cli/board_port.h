#pragma once

// What the board commands share: which COM port to use, and the emulated board that
// --simulate puts behind it.

#include "core/prompts.h"
#include "sim/pty_host.h"

#include <CLI/CLI.hpp>

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fieldkit::cli {

struct BoardPortOptions {
    std::optional<int> port;             // --port, else the settings file
    bool simulate = false;               // --simulate
    std::vector<std::string> simOptions; // --sim-option, passed to the emulator
};

// Adds --port, --simulate and --sim-option to a command. With `repeatedPorts`, --port may be
// given several times (a bench of boards) and every value goes there instead of options.port.
void addBoardPortOptions(CLI::App& command, BoardPortOptions& options, std::vector<int>* repeatedPorts = nullptr);

// The port to use: --port, or "SerialPort"/"PortNumber" of AppConfig.ini with its warning
// shown when the value names no COM port from 1 to 4. A settings file that cannot be read or
// whose port value is not of the form COMn gets a hint line on `hints`.
int resolvePort(const BoardPortOptions& options, Prompts& prompts, std::ostream& hints);

// With --simulate, an emulated board on a pseudo-terminal that COM<port> is pointed at for
// the rest of the process; without it, nothing. Throws std::runtime_error when the emulator
// cannot start and std::invalid_argument for bad --sim-option values.
class SimulatedBoard {
public:
    SimulatedBoard(const BoardPortOptions& options, int port, std::ostream& log);
    ~SimulatedBoard();
    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    // Prints what the emulated board saw: requests, bytes, retries.
    void report(std::ostream& out) const;

private:
    std::unique_ptr<sim::PtyBoardHost> host_;
};

} // namespace fieldkit::cli
