#include "sim/simulated_board.h"

#ifdef _WIN32
#include "sim/in_memory_channel.h"

#include <stdexcept>
#else
#include "sim/pty_host.h"
#endif

namespace fieldkit::sim {

#ifdef _WIN32

SimulatedBoard::SimulatedBoard(const BoardOptions& options) : options_(options) {}

SimulatedBoard::~SimulatedBoard() = default;

bool SimulatedBoard::start(std::string* error)
{
    try {
        endpoint_ = std::make_unique<BoardEndpoint>(options_);
        return true;
    } catch (const std::runtime_error& failure) { // the --flash or --request-log file
        if (error)
            *error = failure.what();
        return false;
    }
}

SimulatedBoard::Channels SimulatedBoard::channels(SerialChannels)
{
    return [this](int) { return std::make_unique<InMemoryChannel>(*endpoint_); };
}

std::string SimulatedBoard::location() const { return "this process"; }

LineCounters SimulatedBoard::counters() const { return endpoint_->counters(); }

#else

SimulatedBoard::SimulatedBoard(const BoardOptions& options) : host_(std::make_unique<PtyBoardHost>(options)) {}

SimulatedBoard::~SimulatedBoard() = default;

bool SimulatedBoard::start(std::string* error) { return host_->start(error); }

SimulatedBoard::Channels SimulatedBoard::channels(SerialChannels serialChannels)
{
    return [device = host_->devicePath(), serialChannels = std::move(serialChannels)](int) {
        return serialChannels(device);
    };
}

std::string SimulatedBoard::location() const { return host_->devicePath(); }

LineCounters SimulatedBoard::counters() const { return host_->counters(); }

#endif

} // namespace fieldkit::sim
