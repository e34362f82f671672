#pragma once

#include "sim/board_endpoint.h"
#include "sim/board_options.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
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

    // A byte from the host on its way to the board, and when its last bit arrives there.
    struct InboundByte {
        std::uint8_t byte;
        TimePoint arrival;
    };
    // A byte of an answer, and when the host's adapter hands it over to the host.
    struct OutboundByte {
        std::uint8_t byte;
        TimePoint delivery;
    };
    // When an answer's last byte has left the board, which frees its request's bytes in the
    // board's receive buffer.
    struct Release {
        TimePoint at;
        std::size_t requestBytes;
    };

    bool openPseudoTerminal(std::string* error);
    bool openDevice(std::string* error);
    bool makeLink(std::string* error);
    void removeLink();
    void closeLine();
    void serve();
    void readFromHost(TimePoint now);
    void deliverToBoard(TimePoint now);
    void scheduleAnswer(std::span<const std::uint8_t> answer, std::size_t requestBytes, TimePoint ready);
    void releaseUntil(TimePoint time);
    void deliverToHost(TimePoint now);
    std::optional<TimePoint> nextEvent() const;
    // Waits until `deadline` or until the host sends; false when stop() cut the wait short.
    bool waitUntil(std::optional<TimePoint> deadline, bool watchLine);

    BoardOptions options_;
    std::unique_ptr<BoardEndpoint> endpoint_;
    std::string devicePath_;
    std::string linkPath_;
    int lineFd_ = -1;
    int wakeReadFd_ = -1;
    int wakeWriteFd_ = -1;
    std::chrono::nanoseconds byteTime_{0}; // pacing of a pseudo-terminal; a real port paces itself

    // The two directions of a full-duplex line, each paced on its own.
    std::deque<InboundByte> inbound_;
    TimePoint inboundFreeAt_{};       // when the last byte sent by the host has arrived
    TimePoint lastArrival_{};         // of the last byte the board received
    bool gapPending_ = false;         // bytes arrived since the board last saw its frame gap
    bool hungUp_ = false;             // the host has closed the port
    std::deque<OutboundByte> outbound_;
    std::deque<Release> releases_;
    TimePoint outboundFreeAt_{};      // when the board's last answer byte has left
    std::size_t adapterBytes_ = 0;    // held by the host's USB adapter since its last hand-over
    TimePoint adapterFlushAt_{};
    TimePoint outboundStalledSince_{};

    std::atomic<bool> stopping_{false};
    std::thread thread_;
};

} // namespace fieldkit::sim
