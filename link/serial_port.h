#pragma once

#include "link/channel_factory.h"
#include "settings/app_settings.h"

#include <filesystem>
#include <string>
#include <vector>

namespace fieldkit::link {

// The device a COM port number (1 to 4) stands for on this machine: the environment
// variable FIELDKIT_COMn, else "SerialDevices"/"COMn" in the settings file, else the
// platform's own (/dev/ttyS0 to /dev/ttyS3, or COM1 to COM4 on Windows). Empty for a port
// number outside 1 to 4.
std::string deviceForPort(int port, const std::filesystem::path& settingsFile = settings::settingsFile());

// Channels onto the serial devices of deviceForPort, at the line speed of the radio's profile.
// The device is looked up each time a channel is made, so a changed mapping takes effect at
// the next open.
ChannelFactory serialPortChannels(std::filesystem::path settingsFile = settings::settingsFile());

// A serial port the system reports, for the user to find the device of the programming cable.
struct SerialPortDescription {
    std::string name;           // e.g. "ttyUSB0" or "COM3"
    std::string systemLocation; // e.g. "/dev/ttyUSB0"
    std::string description;
    std::string manufacturer;
    std::string serialNumber;
};
std::vector<SerialPortDescription> availableSerialPorts();

} // namespace fieldkit::link
