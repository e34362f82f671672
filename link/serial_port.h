#pragma once

#include "link/channel_factory.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace fieldkit::link {

// The device a COM port number (1 to 4) stands for on this machine, e.g. "/dev/ttyUSB0" or
// "COM7"; empty for none. The front end decides it (from the environment, its settings file
// or the platform's default) and hands it in.
using PortDevices = std::function<std::string(int port)>;

// A (not yet opened) channel onto the serial device `device`, at the line speed of the
// radio's profile: through QSerialPort on Linux, through the Win32 communications API on
// Windows.
std::unique_ptr<wire::ByteChannel> serialChannel(const std::string& device);

// Channels onto the serial devices of `devices`. The device is asked for each time a channel
// is made, so a changed mapping takes effect at the next open.
ChannelFactory serialPortChannels(PortDevices devices);

// A serial port the system reports, for the user to find the device of the programming cable.
struct SerialPortDescription {
    std::string name;           // e.g. "ttyUSB0" or "COM3"
    std::string systemLocation; // e.g. "/dev/ttyUSB0" or "COM3"
    std::string description;
    std::string manufacturer;
    std::string serialNumber;
};
std::vector<SerialPortDescription> availableSerialPorts();

} // namespace fieldkit::link
