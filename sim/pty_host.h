#pragma once

#include "sim/board_endpoint.h"
#include "sim/board_options.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <thread>
#include <vector>

namespace fieldkit::sim {

// Serves an emulated board on a line of its own, in a thread of its own: a new
// pseudo-terminal (the host opens its slave side like any serial port), or a real serial
// device when the options name one. The host may open and close the line as often as it
// likes; the board keeps its state throughout.
class PtyBoardHost {
public:
    explicit PtyBoardHost(BoardOptions options);
    ~PtyBoardHost();
    PtyBoardHost(const PtyBoardHost&) = delete;
    PtyBoardHost& operator=(const PtyBoardHost&) = delete;

    // Builds the board, opens the line, makes the --link symbolic link and starts serving.
    // On failure returns false with the reason in `error` and leaves nothing behind.
    bool start(std::string* error);
    // Stops serving, closes the line and removes the link; the board's state stays readable.
    void stop();
    bool running() const { return thread_.joinable(); }

    // The line the host opens: the pseudo-terminal's slave device (e.g. /dev/pts/7), or
    // the serial device given with --device.
    std::string devicePath() const { return devicePath_; }
    // The symbolic link made for --link; empty without one.
    std::string linkPath() const { return linkPath_; }

    // Empty before start().
    std::vector<std::uint8_t> flashSnapshot() const;
    LineCounters counters() const;
    BoardCounters boardCounters() const;
    std::string lastDumpError() const;

private:
    using TimePoint = std::chrono::steady_clock::time_point;

    bool openPseudoTerminal(std::string* error);
    bool openDevice(std::string* error);
    bool makeLink(std::string* error);
    void removeLink();
    void closeLine();
    void serve();
    void onBytes(std::span<const std::uint8_t> bytes);
    void send(std::span<const std::uint8_t> bytes);
    // Waits until `deadline`; false when stop() cut the wait short.
    bool pauseUntil(TimePoint deadline);

    BoardOptions options_;
    std::unique_ptr<BoardEndpoint> endpoint_;
    std::string devicePath_;
    std::string linkPath_;
    int lineFd_ = -1;
    int wakeReadFd_ = -1;
    int wakeWriteFd_ = -1;
    std::chrono::nanoseconds byteTime_{0}; // pacing of a pseudo-terminal; a real port paces itself
    TimePoint inboundFreeAt_{};
    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace fieldkit::sim
