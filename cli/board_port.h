#pragma once

// What the board commands share: which COM port to use, what device each COM port means,
// and the emulated board that --simulate puts behind them.

#include "core/prompts.h"
#include "link/channel_factory.h"
#include "sim/simulated_board.h"

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

// Throws CLI::ValidationError (bad usage) when two of the ports given map to one device (a
// link to the other's device, say): two runs would drive one board at once. Checked before
// any port is opened; with --simulate every port has an emulated board of its own.
void checkDistinctDevices(const BoardPortOptions& options, const std::vector<int>& ports);

// The port to use: --port, or "SerialPort"/"PortNumber" of AppConfig.ini with its warning
// shown when the value names no COM port from 1 to 4. A settings file that cannot be read or
// whose port value is not of the form COMn gets a hint line on `hints`.
int resolvePort(const BoardPortOptions& options, Prompts& prompts, std::ostream& hints);

// The line the board commands talk through: the serial ports as AppConfig.ini and FIELDKIT_COMn
// map them, or with --simulate an emulated board behind every COM port. Throws
// std::runtime_error when the emulator cannot start (bad --sim-option values are refused
// while the command line is read).
class BoardLine {
public:
    BoardLine(const BoardPortOptions& options, int port, std::ostream& log);
    ~BoardLine();
    BoardLine(const BoardLine&) = delete;
    BoardLine& operator=(const BoardLine&) = delete;

    // Channels for the board link; they must not outlive the line.
    link::ChannelFactory channels();
    // What COM<port> means: the device, or where the emulated board is.
    std::string deviceFor(int port) const;

    // Prints what the emulated board saw: requests, bytes, retries.
    void report(std::ostream& out) const;

private:
    std::unique_ptr<sim::SimulatedBoard> simulated_;
};

} // namespace fieldkit::cli
