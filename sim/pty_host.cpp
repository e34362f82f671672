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
// look again this often rather than spinning on it. Also how often a stalled answer tries
// again to reach a host that has stopped reading.
inline constexpr auto kHangUpRecheck = 10ms;
// How long an answer may wait for room on a line whose reader has stopped reading.
inline constexpr auto kWriteStallLimit = 1s;
// A USB packet carries at most this many received bytes: a full one goes to the host at once,
// without waiting for the adapter's latency timer.
inline constexpr std::size_t kUsbPacketData = 62;
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
    inboundFreeAt_ = outboundFreeAt_ = std::chrono::steady_clock::now();
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

// One loop serves both directions of the line, each paced on its own as a full-duplex line
// is: the host's bytes reach the board one byte time apart, the board's answers leave one
// byte time apart, and the host's adapter hands them over when its latency timer runs out
// or a USB packet fills.
void PtyBoardHost::serve()
{
    // The pacing waits for the byte times; Linux lets such waits end up to 50 us late by
    // default, which over thousands of requests would pass for a slow host.
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
    while (!stopping_) {
        const auto now = std::chrono::steady_clock::now();
        readFromHost(now);
        deliverToBoard(now);
        releaseUntil(now);
        deliverToHost(now);
        // Silence for the frame gap, or a port the host closed, ends a frame cut short.
        if (gapPending_ && inbound_.empty() && (hungUp_ || now - lastArrival_ >= wire::kBoardFrameGap)) {
            endpoint_->lineIdle();
            gapPending_ = false;
        }
        auto next = nextEvent();
        if (hungUp_)
            next = std::min(next.value_or(TimePoint::max()), now + kHangUpRecheck);
        if (!waitUntil(next, !hungUp_))
            break;
    }
}

void PtyBoardHost::readFromHost(TimePoint now)
{
    std::array<std::uint8_t, kReadChunk> buffer{};
    for (;;) {
        const ssize_t n = ::read(lineFd_, buffer.data(), buffer.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno == EAGAIN) {
            hungUp_ = false;
            return;
        }
        if (n <= 0) { // EIO: nobody has the slave side open
            hungUp_ = true;
            return;
        }
        hungUp_ = false;
        // The bytes follow those still on their way, or start now on an idle line.
        TimePoint arrival = std::max(inboundFreeAt_, now);
        for (ssize_t i = 0; i < n; ++i) {
            arrival += byteTime_;
            inbound_.push_back({buffer[static_cast<std::size_t>(i)], arrival});
        }
        inboundFreeAt_ = arrival;
    }
}

// The board takes the bytes that have arrived, as far as the next point where a frame's header
// or the frame itself is whole, so each answer starts when its request's last byte is in.
void PtyBoardHost::deliverToBoard(TimePoint now)
{
    while (!inbound_.empty()) {
        const std::size_t count = std::min(inbound_.size(), endpoint_->bytesUntilDecided());
        const TimePoint arrival = inbound_[count - 1].arrival;
        if (arrival > now)
            return;
        releaseUntil(arrival);
        std::vector<std::uint8_t> bytes(count);
        for (std::size_t i = 0; i < count; ++i) {
            bytes[i] = inbound_.front().byte;
            inbound_.pop_front();
        }
        lastArrival_ = arrival;
        gapPending_ = true;
        for (const LineAnswer& answer : endpoint_->receiveHolding(bytes))
            scheduleAnswer(answer.bytes, answer.requestBytes, arrival);
    }
}

void PtyBoardHost::scheduleAnswer(std::span<const std::uint8_t> answer, std::size_t requestBytes, TimePoint ready)
{
    TimePoint departed = std::max(outboundFreeAt_, ready);
    const std::size_t first = outbound_.size();
    for (std::uint8_t byte : answer) {
        departed += byteTime_;
        TimePoint delivery = departed;
        if (options_.latency.count() != 0) {
            if (adapterBytes_ != 0 && departed >= adapterFlushAt_)
                adapterBytes_ = 0; // handed over meanwhile
            if (adapterBytes_ == 0)
                adapterFlushAt_ = departed + options_.latency;
            delivery = adapterFlushAt_;
            if (++adapterBytes_ == kUsbPacketData) {
                for (auto held = outbound_.rbegin(); held != outbound_.rend() && held->delivery == adapterFlushAt_;
                     ++held)
                    held->delivery = departed;
                delivery = departed;
                adapterBytes_ = 0;
            }
        }
        outbound_.push_back({byte, delivery});
    }
    // Without an adapter's timer the host sees the answer once its last byte is in.
    if (options_.latency.count() == 0)
        for (std::size_t i = first; i < outbound_.size(); ++i)
            outbound_[i].delivery = departed;
    outboundFreeAt_ = departed;
    releases_.push_back({departed, requestBytes});
}

void PtyBoardHost::releaseUntil(TimePoint time)
{
    while (!releases_.empty() && releases_.front().at <= time) {
        endpoint_->answerSent(releases_.front().requestBytes);
        releases_.pop_front();
    }
}

void PtyBoardHost::deliverToHost(TimePoint now)
{
    std::vector<std::uint8_t> due;
    for (const OutboundByte& out : outbound_) {
        if (out.delivery > now)
            break;
        due.push_back(out.byte);
    }
    if (due.empty())
        return;
    const ssize_t n = ::write(lineFd_, due.data(), due.size());
    std::size_t done = n > 0 ? static_cast<std::size_t>(n) : 0;
    if (n < 0 && errno != EAGAIN && errno != EINTR)
        done = due.size(); // the port is closed: the answer is lost, as on a cable
    if (done < due.size()) {
        // A host that has stopped reading: its line fills, and what it does not take in
        // time is lost.
        if (outboundStalledSince_ == TimePoint{})
            outboundStalledSince_ = now;
        else if (now - outboundStalledSince_ >= kWriteStallLimit)
            done = due.size();
    }
    if (done != 0 && done == due.size())
        outboundStalledSince_ = {};
    outbound_.erase(outbound_.begin(), outbound_.begin() + static_cast<std::ptrdiff_t>(done));
}

std::optional<PtyBoardHost::TimePoint> PtyBoardHost::nextEvent() const
{
    std::optional<TimePoint> next;
    const auto consider = [&next](TimePoint time) { next = std::min(next.value_or(TimePoint::max()), time); };
    if (!inbound_.empty())
        consider(inbound_[std::min(inbound_.size(), endpoint_->bytesUntilDecided()) - 1].arrival);
    if (!releases_.empty())
        consider(releases_.front().at);
    if (!outbound_.empty())
        consider(outboundStalledSince_ == TimePoint{} ? outbound_.front().delivery
                                                      : std::chrono::steady_clock::now() + kHangUpRecheck);
    if (gapPending_ && inbound_.empty())
        consider(lastArrival_ + wire::kBoardFrameGap);
    return next;
}

bool PtyBoardHost::waitUntil(std::optional<TimePoint> deadline, bool watchLine)
{
    std::array<pollfd, 2> fds{{{wakeReadFd_, POLLIN, 0}, {lineFd_, POLLIN, 0}}};
    timespec timeout{};
    const timespec* limit = nullptr;
    if (deadline) {
        const auto left = std::max(std::chrono::nanoseconds::zero(),
                                   std::chrono::duration_cast<std::chrono::nanoseconds>(
                                       *deadline - std::chrono::steady_clock::now()));
        timeout = {static_cast<time_t>(left.count() / 1000000000), static_cast<long>(left.count() % 1000000000)};
        limit = &timeout;
    }
    const int ready = ::ppoll(fds.data(), watchLine ? 2 : 1, limit, nullptr);
    if (ready < 0 && errno != EINTR)
        return false;
    return !stopping_ && (ready <= 0 || fds[0].revents == 0);
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
