#pragma once

#include "sim/board_endpoint.h"
#include "sim/board_options.h"
#include "wire/byte_channel.h"

#include <functional>
#include <memory>
#include <string>

namespace fieldkit::sim {

class PtyBoardHost;

// The emulated board a front end's --simulate puts behind its COM ports. On Linux it is
// served on a pseudo-terminal, so that the real serial channel carries every request; Windows
// has no pseudo-terminals, so there the board lives in the same process behind in-memory lines.
class SimulatedBoard {
public:
    // Makes a serial channel onto a device: how the host side opens a real port.
    using SerialChannels = std::function<std::unique_ptr<wire::ByteChannel>(const std::string& device)>;
    using Channels = std::function<std::unique_ptr<wire::ByteChannel>(int port)>;

    explicit SimulatedBoard(const BoardOptions& options);
    ~SimulatedBoard();
    SimulatedBoard(const SimulatedBoard&) = delete;
    SimulatedBoard& operator=(const SimulatedBoard&) = delete;

    // Builds the board and starts serving it; false with the reason in `error` when it
    // cannot (its --flash file, no pseudo-terminal).
    bool start(std::string* error);

    // A channel to the started board for whichever COM port is asked: one from
    // `serialChannels` onto the pseudo-terminal, or an in-memory line. The board must
    // outlive the channels.
    Channels channels(SerialChannels serialChannels);

    // Where the board is, for the user: "/dev/pts/7", or "this process".
    std::string location() const;
    LineCounters counters() const;

private:
#ifdef _WIN32
    BoardOptions options_;
    std::unique_ptr<BoardEndpoint> endpoint_;
#else
    std::unique_ptr<PtyBoardHost> host_;
#endif
};

} // namespace fieldkit::sim
