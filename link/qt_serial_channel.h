#pragma once

#include "wire/byte_channel.h"

#include <cstdint>
#include <memory>
#include <string>

class QSerialPort;

namespace fieldkit::link {

// Why a device cannot be a serial port, judged before trying to open it: missing, not a
// character device, or not readable and writable by this user. ok() when it may be one.
wire::OpenResult checkSerialDevice(const std::string& device);

// A serial line (real port, USB adapter or pseudo-terminal) through QSerialPort at 8 data
// bits, no parity, one stop bit and no flow control. The port object lives on a thread of
// the channel's own: Qt binds it to the thread that created it and needs that thread to
// have an event dispatcher, which plain threads and programs without a QCoreApplication
// lack. So any one thread at a time may use the channel.
class QtSerialChannel final : public wire::ByteChannel {
public:
    QtSerialChannel(std::string device, std::uint32_t baudRate);
    ~QtSerialChannel() override;
    QtSerialChannel(const QtSerialChannel&) = delete;
    QtSerialChannel& operator=(const QtSerialChannel&) = delete;

    wire::OpenResult open() override;
    void close() override;
    bool isOpen() const override;
    bool write(std::span<const std::uint8_t> bytes) override;
    std::size_t read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override;
    void discardInput() override;

    const std::string& device() const { return device_; }

private:
    class PortThread;
    void discardInputIfAsked(QSerialPort& port);


    std::string device_;
    std::uint32_t baudRate_;
    std::unique_ptr<PortThread> port_;
    bool discardPending_ = false;
};

} // namespace fieldkit::link
