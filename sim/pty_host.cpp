#include "sim/pty_host.h"

#include "wire/protocol.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace fieldkit::sim {
namespace {

using namespace std::chrono_literals;

// While no program has the slave side open the master reports a hang-up on every poll;
// look again this often rather than spinning on it.
inline constexpr auto kHangUpRecheck = 10ms;
// How long an answer may wait for room on a line whose reader has stopped reading.
inline constexpr auto kWriteStallLimit = 1s;
// A byte on an asynchronous serial line: start bit, 8 data bits, stop bit.
inline constexpr std::int64_t kBitsPerByte = 10;
inline constexpr std::size_t kReadChunk = 4096;

bool failWith(std::string* error, const std::string& text)
{
    if (error)
        *error = text;
    return false;
}

std::string systemError(const std::string& what)
{
    return what + ": " + std::strerror(errno);
}

bool makeRaw(int fd)
{
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0)
        return false;
    ::cfmakeraw(&settings);
    settings.c_cflag |= CLOCAL | CREAD;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 0;
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

std::optional<speed_t> speedFor(unsigned baud)
{
    static constexpr std::array<std::pair<unsigned, speed_t>, 13> speeds{{
        {1200, B1200},
        {2400, B2400},
        {4800, B4800},
        {9600, B9600},
        {19200, B19200},
        {38400, B38400},
        {57600, B57600},
        {115200, B115200},
        {230400, B230400},
        {460800, B460800},
        {500000, B500000},
        {921600, B921600},
        {1000000, B1000000},
    }};
    for (const auto& [rate, speed] : speeds)
        if (rate == baud)
            return speed;
    return std::nullopt;
}

} // namespace

PtyBoardHost::PtyBoardHost(BoardOptions options) : options_(std::move(options)) {}

PtyBoardHost::~PtyBoardHost()
{
    stop();
}

bool PtyBoardHost::start(std::string* error)
{
    if (running())
        return failWith(error, "the board is already being served on " + devicePath_);
    try {
        endpoint_ = std::make_unique<BoardEndpoint>(options_);
    } catch (const std::exception& failure) {
        return failWith(error, failure.what());
    }
    const bool lineOpen = options_.devicePath.empty() ? openPseudoTerminal(error) : openDevice(error);
    if (!lineOpen)
        return false;
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
        const std::string reason = systemError("cannot create the stop signal pipe");
        closeLine();
        return failWith(error, reason);
    }
    wakeReadFd_ = wake[0];
    wakeWriteFd_ = wake[1];
    if (!makeLink(error)) {
        closeLine();
        return false;
    }
    byteTime_ = options_.devicePath.empty() && options_.baud != 0
                    ? std::chrono::nanoseconds(std::chrono::seconds(kBitsPerByte)) / options_.baud
                    : std::chrono::nanoseconds(0);
    inboundFreeAt_ = std::chrono::steady_clock::now();
    stopping_ = false;
    thread_ = std::thread([this] { serve(); });
    return true;
}

void PtyBoardHost::stop()
{
    if (thread_.joinable()) {
        stopping_ = true;
        const char wake = 1;
        [[maybe_unused]] const auto ignored = ::write(wakeWriteFd_, &wake, 1);
        thread_.join();
    }
    removeLink();
    closeLine();
}

bool PtyBoardHost::openPseudoTerminal(std::string* error)
{
    lineFd_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (lineFd_ < 0)
        return failWith(error, systemError("cannot create a pseudo-terminal"));
    std::array<char, 128> slaveName{};
    if (::grantpt(lineFd_) != 0 || ::unlockpt(lineFd_) != 0 ||
        ::ptsname_r(lineFd_, slaveName.data(), slaveName.size()) != 0) {
        const std::string reason = systemError("cannot prepare the pseudo-terminal");
        closeLine();
        return failWith(error, reason);
    }
    devicePath_ = slaveName.data();

    // Raw mode is set once on the slave side and stays with the pseudo-terminal while the
    // master is open, so bytes pass unchanged even to a program that sets nothing itself.
    const int slave = ::open(devicePath_.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave < 0) {
        const std::string reason = systemError("cannot open " + devicePath_);
        closeLine();
        return failWith(error, reason);
    }
    const bool raw = makeRaw(slave);
    const std::string reason = raw ? std::string{} : systemError("cannot put " + devicePath_ + " in raw mode");
    ::close(slave);
    if (!raw) {
        closeLine();
        return failWith(error, reason);
    }
    if (::fcntl(lineFd_, F_SETFL, O_NONBLOCK) != 0) {
        const std::string failure = systemError("cannot prepare the pseudo-terminal");
        closeLine();
        return failWith(error, failure);
    }
    return true;
}

bool PtyBoardHost::openDevice(std::string* error)
{
    std::optional<speed_t> speed;
    if (options_.baud != 0) {
        speed = speedFor(options_.baud);
        if (!speed)
            return failWith(error, "a serial device does not run at --baud " + std::to_string(options_.baud) +
                                       "; use a standard rate such as 9600 or 115200");
    }
    lineFd_ = ::open(options_.devicePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (lineFd_ < 0)
        return failWith(error, systemError("cannot open " + options_.devicePath));
    termios settings{};
    if (::tcgetattr(lineFd_, &settings) != 0) {
        closeLine();
        return failWith(error, options_.devicePath + " is not a serial device");
    }
    if (speed && (::cfsetispeed(&settings, *speed) != 0 || ::cfsetospeed(&settings, *speed) != 0 ||
                  ::tcsetattr(lineFd_, TCSANOW, &settings) != 0)) {
        const std::string reason = systemError("cannot set the speed of " + options_.devicePath);
        closeLine();
        return failWith(error, reason);
    }
    if (!makeRaw(lineFd_)) {
        const std::string reason = systemError("cannot put " + options_.devicePath + " in raw mode");
        closeLine();
        return failWith(error, reason);
    }
    ::tcflush(lineFd_, TCIOFLUSH);
    devicePath_ = options_.devicePath;
    return true;
}

bool PtyBoardHost::makeLink(std::string* error)
{
    if (options_.linkPath.empty())
        return true;
    const std::string& path = options_.linkPath;
    struct stat existing {};
    if (::lstat(path.c_str(), &existing) == 0 && !S_ISLNK(existing.st_mode))
        return failWith(error, path + " exists and is not a symbolic link; not replacing it");
    // Made beside the final name and renamed over it, so an old link from an earlier run is
    // replaced in one step.
    const std::string temporary = path + ".new-link";
    ::unlink(temporary.c_str());
    if (::symlink(devicePath_.c_str(), temporary.c_str()) != 0)
        return failWith(error, systemError("cannot create the link " + path));
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const std::string reason = systemError("cannot create the link " + path);
        ::unlink(temporary.c_str());
        return failWith(error, reason);
    }
    linkPath_ = path;
    return true;
}

void PtyBoardHost::removeLink()
{
    if (linkPath_.empty())
        return;
    // Only our own link: another emulator may have taken the name over since.
    std::array<char, 256> target{};
    const ssize_t length = ::readlink(linkPath_.c_str(), target.data(), target.size() - 1);
    if (length > 0 && std::string(target.data(), static_cast<std::size_t>(length)) == devicePath_)
        ::unlink(linkPath_.c_str());
    linkPath_.clear();
}

void PtyBoardHost::closeLine()
{
    for (int* fd : {&lineFd_, &wakeReadFd_, &wakeWriteFd_}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

void PtyBoardHost::serve()
{
    // The pacing of --baud sleeps twice a request; Linux lets such sleeps end up to 50 us
    // late by default, which over thousands of requests would pass for a slow host.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    const int gapMs = static_cast<int>(wire::kBoardFrameGap.count());
    std::array<std::uint8_t, kReadChunk> buffer{};
    bool bytesSinceIdle = false;
    while (!stopping_) {
        std::array<pollfd, 2> fds{{{lineFd_, POLLIN, 0}, {wakeReadFd_, POLLIN, 0}}};
        // Once the board has seen the frame gap there is nothing to time, so wait for bytes.
        const int ready = ::poll(fds.data(), fds.size(), bytesSinceIdle ? gapMs : -1);
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready < 0 || fds[1].revents != 0)
            break;
        if (ready == 0) {
            endpoint_->lineIdle();
            bytesSinceIdle = false;
            continue;
        }
        bool hungUp = (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0;
        if ((fds[0].revents & POLLIN) != 0) {
            const ssize_t n = ::read(lineFd_, buffer.data(), buffer.size());
            if (n > 0) {
                bytesSinceIdle = true;
                onBytes(std::span<const std::uint8_t>(buffer.data(), static_cast<std::size_t>(n)));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR))
                continue;
            hungUp = true; // EIO: nobody has the slave side open
        }
        if (hungUp) {
            // A closed port is a silent line: a frame cut short by it is dropped.
            if (bytesSinceIdle) {
                endpoint_->lineIdle();
                bytesSinceIdle = false;
            }
            if (!pauseUntil(std::chrono::steady_clock::now() + kHangUpRecheck))
                break;
        }
    }
}

void PtyBoardHost::onBytes(std::span<const std::uint8_t> bytes)
{
    if (byteTime_.count() != 0) {
        // The bytes of a burst arrive one after another at the line rate.
        inboundFreeAt_ = std::max(inboundFreeAt_, std::chrono::steady_clock::now()) +
                         byteTime_ * static_cast<std::int64_t>(bytes.size());
        if (!pauseUntil(inboundFreeAt_))
            return;
    }
    const auto answer = endpoint_->receive(bytes);
    if (!answer.empty())
        send(answer);
}

void PtyBoardHost::send(std::span<const std::uint8_t> bytes)
{
    // The turnaround before the board answers, then the time the answer takes on the line:
    // the host sees the answer complete when its last byte would have arrived.
    const auto due =
        std::chrono::steady_clock::now() + options_.latency + byteTime_ * static_cast<std::int64_t>(bytes.size());
    if (!pauseUntil(due))
        return;
    std::size_t sent = 0;
    const auto giveUpAt = std::chrono::steady_clock::now() + kWriteStallLimit;
    while (sent < bytes.size() && !stopping_) {
        const ssize_t n = ::write(lineFd_, bytes.data() + sent, bytes.size() - sent);
        if (n > 0) {
            sent += static_cast<std::size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A full line (the host stopped reading) or none at all (the port was closed): the
        // rest of the answer is lost, as it would be on a real cable.
        if (n < 0 && errno != EAGAIN)
            return;
        if (std::chrono::steady_clock::now() >= giveUpAt)
            return;
        std::array<pollfd, 2> fds{{{lineFd_, POLLOUT, 0}, {wakeReadFd_, POLLIN, 0}}};
        ::poll(fds.data(), fds.size(), static_cast<int>(kHangUpRecheck.count()));
    }
}

bool PtyBoardHost::pauseUntil(TimePoint deadline)
{
    while (!stopping_) {
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return true;
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline - now);
        const timespec timeout{static_cast<time_t>(left.count() / 1000000000),
                               static_cast<long>(left.count() % 1000000000)};
        pollfd wake{wakeReadFd_, POLLIN, 0};
        if (::ppoll(&wake, 1, &timeout, nullptr) > 0)
            return false;
    }
    return false;
}

std::vector<std::uint8_t> PtyBoardHost::flashSnapshot() const
{
    return endpoint_ ? endpoint_->flashSnapshot() : std::vector<std::uint8_t>{};
}

LineCounters PtyBoardHost::counters() const
{
    return endpoint_ ? endpoint_->counters() : LineCounters{};
}

BoardCounters PtyBoardHost::boardCounters() const
{
    return endpoint_ ? endpoint_->boardCounters() : BoardCounters{};
}

std::string PtyBoardHost::lastDumpError() const
{
    return endpoint_ ? endpoint_->lastDumpError() : std::string{};
}

} // namespace fieldkit::sim
