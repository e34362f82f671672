#pragma once

// The host end of a serial line in tests: opens a device raw, as a serial port program
// would, and reads with a deadline so that a board that stays silent fails the test rather
// than hanging it.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace fieldkit::sim {

class RawClient {
public:
    explicit RawClient(const std::string& path)
    {
        fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
        termios settings{};
        if (fd_ < 0 || ::tcgetattr(fd_, &settings) != 0) {
            ADD_FAILURE() << "cannot open " << path << " as a terminal";
            return;
        }
        ::cfmakeraw(&settings);
        ::tcsetattr(fd_, TCSANOW, &settings);
    }
    ~RawClient() { close(); }
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    bool isOpen() const { return fd_ >= 0; }

    void send(std::span<const std::uint8_t> bytes)
    {
        ASSERT_EQ(::write(fd_, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    // Up to `count` bytes, or fewer when `deadline` passes first.
    std::vector<std::uint8_t> receive(std::size_t count, std::chrono::milliseconds deadline = std::chrono::seconds(5))
    {
        std::vector<std::uint8_t> bytes;
        const auto giveUpAt = std::chrono::steady_clock::now() + deadline;
        while (bytes.size() < count) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(giveUpAt - std::chrono::steady_clock::now());
            pollfd wait{fd_, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&wait, 1, static_cast<int>(left.count())) <= 0)
                break;
            std::uint8_t buffer[512];
            const ssize_t n = ::read(fd_, buffer, std::min(sizeof buffer, count - bytes.size()));
            if (n <= 0)
                break;
            bytes.insert(bytes.end(), buffer, buffer + n);
        }
        return bytes;
    }

    void close()
    {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
    }

private:
    int fd_ = -1;
};

} // namespace fieldkit::sim
