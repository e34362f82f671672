#include "link/qt_serial_channel.h"

#include "link/serial_port.h"

#include <QDeadlineTimer>
#include <QSerialPort>
#include <QSerialPortInfo>
#include <QThread>

#include <condition_variable>
#include <filesystem>
#include <functional>
#include <mutex>
#include <system_error>

#include <cerrno>

#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace fieldkit::link {
namespace {

// How long the bytes of one write may take to leave beyond their time on the wire; a line
// that takes longer is stuck (pulled cable, peer gone, full buffer).
constexpr std::chrono::milliseconds kWriteDrainMargin{250};
constexpr std::uint32_t kBitsPerCharacter = 10; // start bit, 8 data bits, stop bit

wire::OpenResult failure(wire::OpenFailure kind, const std::string& device, const std::string& why)
{
    return {kind, device + ": " + why};
}

// Asks the serial driver to hand over received bytes at once: USB adapters otherwise hold
// short answers back (16 ms by default on many), and every page costs three answers. A
// pseudo-terminal or a driver without the setting refuses, which changes nothing.
void askForLowLatency(QSerialPort& port)
{
    serial_struct settings{};
    const int fd = static_cast<int>(port.handle());
    if (::ioctl(fd, TIOCGSERIAL, &settings) != 0 || (settings.flags & ASYNC_LOW_LATENCY) != 0)
        return;
    settings.flags |= ASYNC_LOW_LATENCY;
    ::ioctl(fd, TIOCSSERIAL, &settings);
}

wire::OpenFailure failureOf(QSerialPort::SerialPortError error)
{
    switch (error) {
    case QSerialPort::DeviceNotFoundError:
        return wire::OpenFailure::NotFound;
    // With read and write access checked beforehand, a refusal means another program holds
    // the port (its lock file, or exclusive use).
    case QSerialPort::PermissionError:
    case QSerialPort::OpenError:
        return wire::OpenFailure::Busy;
    case QSerialPort::UnsupportedOperationError:
        return wire::OpenFailure::NotASerialPort;
    default:
        return wire::OpenFailure::Other;
    }
}

} // namespace

wire::OpenResult checkSerialDevice(const std::string& device)
{
    if (device.empty())
        return {wire::OpenFailure::NotFound, "no serial device named"};
    std::error_code error;
    const auto status = std::filesystem::status(device, error);
    if (error == std::errc::permission_denied)
        return failure(wire::OpenFailure::PermissionDenied, device, error.message());
    if (!std::filesystem::exists(status))
        return failure(wire::OpenFailure::NotFound, device,
                       std::make_error_code(std::errc::no_such_file_or_directory).message());
    if (std::filesystem::is_directory(status))
        return failure(wire::OpenFailure::NotASerialPort, device,
                       std::make_error_code(std::errc::is_a_directory).message());
    if (!std::filesystem::is_character_file(status))
        return failure(wire::OpenFailure::NotASerialPort, device, "not a character device");
    if (::access(device.c_str(), R_OK | W_OK) != 0) {
        const auto kind = errno == EACCES || errno == EPERM || errno == EROFS ? wire::OpenFailure::PermissionDenied
                                                                              : wire::OpenFailure::Other;
        return failure(kind, device, std::error_code(errno, std::generic_category()).message());
    }
    return {};
}

// A thread that owns the QSerialPort and runs each channel operation on it, one at a time,
// while the calling thread waits.
class QtSerialChannel::PortThread {
public:
    PortThread() : thread_(QThread::create([this] { serve(); })) { thread_->start(); }

    ~PortThread()
    {
        {
            std::unique_lock lock(mutex_);
            stopping_ = true;
            wake_.notify_all();
            done_.wait(lock, [this] { return stopped_; });
        }
        thread_->wait();
    }

    PortThread(const PortThread&) = delete;
    PortThread& operator=(const PortThread&) = delete;

    // Runs `job` with the port (null before it is created) on the port's thread.
    void run(const std::function<void(std::unique_ptr<QSerialPort>&)>& job)
    {
        std::lock_guard caller(callerMutex_);
        std::unique_lock lock(mutex_);
        job_ = &job;
        wake_.notify_all();
        done_.wait(lock, [this] { return job_ == nullptr; });
    }

private:
    void serve()
    {
        std::unique_lock lock(mutex_);
        for (;;) {
            wake_.wait(lock, [this] { return stopping_ || job_ != nullptr; });
            if (job_ == nullptr)
                break;
            const auto* job = job_;
            lock.unlock();
            (*job)(port_);
            lock.lock();
            job_ = nullptr;
            done_.notify_all();
        }
        port_.reset(); // a QObject must die on its own thread
        stopped_ = true;
        done_.notify_all();
    }

    std::unique_ptr<QThread> thread_;
    std::unique_ptr<QSerialPort> port_;
    std::mutex callerMutex_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable done_;
    const std::function<void(std::unique_ptr<QSerialPort>&)>* job_ = nullptr;
    bool stopping_ = false;
    bool stopped_ = false;
};

QtSerialChannel::QtSerialChannel(std::string device, std::uint32_t baudRate)
    : device_(std::move(device)), baudRate_(baudRate)
{
}

QtSerialChannel::~QtSerialChannel() { close(); }

wire::OpenResult QtSerialChannel::open()
{
    if (port_)
        return failure(wire::OpenFailure::Busy, device_, "already open");
    if (baudRate_ == 0)
        return failure(wire::OpenFailure::Other, device_, "no line speed given");
    if (auto checked = checkSerialDevice(device_); !checked.ok())
        return checked;

    auto thread = std::make_unique<PortThread>();
    wire::OpenResult result;
    thread->run([&](std::unique_ptr<QSerialPort>& port) {
        port = std::make_unique<QSerialPort>();
        port->setPortName(QString::fromStdString(device_));
        port->setBaudRate(static_cast<qint32>(baudRate_));
        port->setDataBits(QSerialPort::Data8);
        port->setParity(QSerialPort::NoParity);
        port->setStopBits(QSerialPort::OneStop);
        port->setFlowControl(QSerialPort::NoFlowControl);
        if (!port->open(QIODevice::ReadWrite)) {
            result = failure(failureOf(port->error()), device_, port->errorString().toStdString());
            port.reset();
            return;
        }
        askForLowLatency(*port);
    });
    if (result.ok())
        port_ = std::move(thread);
    return result;
}

void QtSerialChannel::close()
{
    if (!port_)
        return;
    port_->run([](std::unique_ptr<QSerialPort>& port) {
        port->close();
        port.reset();
    });
    port_.reset();
    discardPending_ = false;
}

bool QtSerialChannel::isOpen() const { return port_ != nullptr; }

bool QtSerialChannel::write(std::span<const std::uint8_t> bytes)
{
    if (!port_)
        return false;
    const auto onWire = std::chrono::milliseconds(bytes.size() * kBitsPerCharacter * 1000 / baudRate_ + 1);
    bool written = false;
    port_->run([&](std::unique_ptr<QSerialPort>& port) {
        discardInputIfAsked(*port);
        const auto size = static_cast<qint64>(bytes.size());
        if (port->write(reinterpret_cast<const char*>(bytes.data()), size) != size) {
            port->clear(QSerialPort::Output);
            return;
        }
        QDeadlineTimer deadline((onWire + kWriteDrainMargin).count());
        while (port->bytesToWrite() > 0) {
            if (!port->waitForBytesWritten(static_cast<int>(deadline.remainingTime()))) {
                // Nothing of a frame that did not leave whole may follow later.
                port->clear(QSerialPort::Output);
                return;
            }
        }
        written = true;
    });
    return written;
}

std::size_t QtSerialChannel::read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout)
{
    if (!port_ || into.empty())
        return 0;
    std::size_t filled = 0;
    port_->run([&](std::unique_ptr<QSerialPort>& port) {
        discardInputIfAsked(*port);
        QDeadlineTimer deadline(timeout.count());
        bool waited = false;
        for (;;) {
            const qint64 got = port->read(reinterpret_cast<char*>(into.data() + filled),
                                          static_cast<qint64>(into.size() - filled));
            if (got > 0)
                filled += static_cast<std::size_t>(got);
            if (got < 0 || filled == into.size() || (waited && deadline.hasExpired()))
                return;
            waited = true;
            // False on timeout and on a dead line alike; either way nothing more comes in time.
            if (!port->waitForReadyRead(static_cast<int>(deadline.remainingTime())))
                return;
        }
    });
    return filled;
}

void QtSerialChannel::discardInput()
{
    // Done by the next write or read on the port's thread: each trip there costs a thread
    // switch both ways, paid on every request, and nothing can tell the difference.
    discardPending_ = port_ != nullptr;
}

void QtSerialChannel::discardInputIfAsked(QSerialPort& port)
{
    if (discardPending_)
        port.clear(QSerialPort::Input);
    discardPending_ = false;
}

std::vector<SerialPortDescription> availableSerialPorts()
{
    std::vector<SerialPortDescription> ports;
    for (const QSerialPortInfo& info : QSerialPortInfo::availablePorts())
        ports.push_back({info.portName().toStdString(), info.systemLocation().toStdString(),
                         info.description().toStdString(), info.manufacturer().toStdString(),
                         info.serialNumber().toStdString()});
    return ports;
}

} // namespace fieldkit::link
