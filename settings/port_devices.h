#pragma once

// What COM1 to COM4 mean on this machine. The front ends build the mapping from here and hand
// it to the link, which knows only the device names it is given.

#include "settings/app_settings.h"

#include <filesystem>
#include <string>

namespace fieldkit::settings {

// A typical device name of a USB programming cable, for examples in messages.
#ifdef _WIN32
inline constexpr const char* kExampleCableDevice = "COM7";
#else
inline constexpr const char* kExampleCableDevice = "/dev/ttyUSB0";
#endif

struct PortDevice {
    std::string device; // e.g. "/dev/ttyUSB0" or "COM7"; empty for a port number outside 1 to 4
    std::string source; // where the mapping comes from, for the user: "environment FIELDKIT_COM1", ...
};

// The device COM<port> stands for: the environment variable FIELDKIT_COMn, else
// "SerialDevices"/"COMn" in the settings file, else the platform's own (/dev/ttyS0 to
// /dev/ttyS3 on Linux, the Windows port of the same name on Windows).
PortDevice serialDeviceFor(int port, const std::filesystem::path& file = settingsFile());

// Whether two device names mean one device, whatever they are called: on Linux the same
// device file after following links (or one character device under two nodes); on Windows
// the same COM port however it is written ("com3", "\\.\COM3"). Names that do not exist
// are compared as paths.
bool sameDevice(const std::string& first, const std::string& second);

} // namespace fieldkit::settings
