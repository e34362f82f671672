#pragma once

// A pseudo-terminal pair for tests of the serial channel: the channel opens the slave side
// like any serial device, and a responder thread plays the far end on the master side.

#include "wire/protocol.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <fcntl.h>
#include <functional>
#include <poll.h>
#include <span>
#include <stdexcept>
#include <stdlib.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fieldkit::link {

class PseudoTerminal {
public:
    PseudoTerminal()
    {
        master_ = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0)
            throw std::runtime_error("no pseudo-terminal");
        slavePath_ = ::ptsname(master_);
    }
    ~PseudoTerminal()
    {
        stopResponder();
        closeMaster();
    }
    PseudoTerminal(const PseudoTerminal&) = delete;
    PseudoTerminal& operator=(const PseudoTerminal&) = delete;

    const std::string& slavePath() const { return slavePath_; }

    // The far end hangs up, as when the cable is pulled.
    void closeMaster()
    {
        stopResponder();
        if (master_ >= 0)
            ::close(master_);
        master_ = -1;
    }

    void writeMaster(std::span<const std::uint8_t> bytes)
    {
        if (::write(master_, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size()))
            throw std::runtime_error("master write failed");
    }

    // Calls `respond` with whatever arrives and writes back what it returns; calls `silent`
    // whenever the line has been quiet for `gap`.
    void startResponder(std::function<std::vector<std::uint8_t>(std::span<const std::uint8_t>)> respond,
                        std::function<void()> silent = [] {}, std::chrono::milliseconds gap = wire::kBoardFrameGap)
    {
        running_ = true;
        responder_ = std::thread([this, respond = std::move(respond), silent = std::move(silent), gap] {
            std::uint8_t buffer[512];
            while (running_) {
                pollfd fd{master_, POLLIN, 0};
                const int ready = ::poll(&fd, 1, static_cast<int>(gap.count()));
                if (ready == 0) {
                    silent();
                    continue;
                }
                if (ready < 0 || (fd.revents & POLLIN) == 0) {
                    // The slave side is closed for the moment (POLLHUP): wait for it to be opened again.
                    std::this_thread::sleep_for(gap);
                    continue;
                }
                const ssize_t n = ::read(master_, buffer, sizeof buffer);
                if (n <= 0)
                    continue;
                const auto answer = respond(std::span<const std::uint8_t>(buffer, static_cast<std::size_t>(n)));
                if (!answer.empty() && ::write(master_, answer.data(), answer.size()) < 0)
                    return;
            }
        });
    }

    void stopResponder()
    {
        running_ = false;
        if (responder_.joinable())
            responder_.join();
    }

private:
    int master_ = -1;
    std::string slavePath_;
    std::atomic<bool> running_{false};
    std::thread responder_;
};

} // namespace fieldkit::link
