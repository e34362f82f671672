#pragma once

#include "wire/byte_channel.h"

#include <chrono>
#include <cstdint>
#include <string>

namespace fieldkit::link {

// How a Windows error code on opening a port reads for the user: a port that does not exist,
// one that another program holds (Windows opens a COM port for one program at a time and
// answers others with "access denied"), a device that is no serial port, or anything else.
wire::OpenFailure openFailureOfWindowsError(unsigned long error);

// A Windows COM port through the Win32 communications API: opened exclusively as \\.\COMn,
// 8 data bits, no parity, one stop bit, no flow control. Reads wait by the port's own
// time-outs, so a read returns as soon as its bytes are in or its time is up.
class WindowsSerialChannel final : public wire::ByteChannel {
public:
    // `device` is a port name such as "COM7" (or a full \\.\ path).
    WindowsSerialChannel(std::string device, std::uint32_t baudRate);
    ~WindowsSerialChannel() override;
    WindowsSerialChannel(const WindowsSerialChannel&) = delete;
    WindowsSerialChannel& operator=(const WindowsSerialChannel&) = delete;

    wire::OpenResult open() override;
    void close() override;
    bool isOpen() const override;
    bool write(std::span<const std::uint8_t> bytes) override;
    std::size_t read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override;
    void discardInput() override;

    const std::string& device() const { return device_; }

private:
    bool setReadTimeout(std::chrono::milliseconds timeout);

    std::string device_;
    std::uint32_t baudRate_;
    void* handle_ = nullptr; // HANDLE; null while closed
    std::chrono::milliseconds readTimeout_{-1};
};

} // namespace fieldkit::link
