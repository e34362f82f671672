// lodestar-sim: an emulated Lodestar option board on a pseudo-terminal or a serial device,
// for demos and for running the upgrade tools without a radio on the bench.

#include "sim/board_options.h"
#include "sim/flash_file.h"
#include "sim/pty_host.h"

#include <CLI/CLI.hpp>

#include <csignal>
#include <iostream>

#include <pthread.h>

namespace {

using fieldkit::sim::BoardCounters;
using fieldkit::sim::LineCounters;

void printCounters(const LineCounters& line, const BoardCounters& board)
{
    std::cout << "lodestar-sim: requests " << line.requests << '\n'
              << "lodestar-sim: payload bytes in " << line.payloadBytesIn << ", out " << line.payloadBytesOut << '\n'
              << "lodestar-sim: wire bytes in " << line.wireBytesIn << ", out " << line.wireBytesOut << '\n'
              << "lodestar-sim: retries (repeated requests) " << line.repeats << '\n'
              << "lodestar-sim: bad frames " << line.badFrames << ", bytes lost " << line.bytesLost
              << ", bytes corrupted " << line.bytesCorrupted << ", bytes overrun " << line.bytesOverrun << '\n'
              << "lodestar-sim: refused " << board.refused << ", pages programmed " << board.pagesProgrammed
              << ", blocks erased " << board.blocksErased << ", finishes " << board.finishes << '\n'
              << std::flush;
}

} // namespace

int main(int argc, char** argv)
{
    fieldkit::sim::BoardOptions options;
    CLI::App app{"Lodestar option board emulator: plays the board at the other end of the programming cable.",
                 "lodestar-sim"};
    fieldkit::sim::addBoardOptions(app, options);
    CLI11_PARSE(app, argc, argv);

    // Blocked before the serving thread starts, so that it inherits the mask and only the
    // wait below ever takes these signals.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);

    fieldkit::sim::PtyBoardHost host(options);
    std::string error;
    if (!host.start(&error)) {
        std::cerr << "lodestar-sim: " << error << '\n';
        return 1;
    }
    std::cout << "lodestar-sim: board on " << host.devicePath() << '\n';
    if (!host.linkPath().empty())
        std::cout << "lodestar-sim: linked as " << host.linkPath() << '\n';
    std::cout << std::flush;

    int signal = 0;
    sigwait(&stopSignals, &signal);
    host.stop();

    int status = 0;
    if (host.boardCounters().flashDumpFailures != 0)
        std::cerr << "lodestar-sim: a flash dump after a finish command failed: " << host.lastDumpError() << '\n';
    if (!options.dumpFlashFile.empty()) {
        if (fieldkit::sim::writeFlashFile(options.dumpFlashFile, host.flashSnapshot(), &error)) {
            std::cout << "lodestar-sim: flash written to " << options.dumpFlashFile << '\n';
        } else {
            std::cerr << "lodestar-sim: " << error << '\n';
            status = 1;
        }
    }
    printCounters(host.counters(), host.boardCounters());
    return status;
}
