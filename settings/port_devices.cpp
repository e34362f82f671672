#include "settings/port_devices.h"

#include <cstdlib>

namespace fieldkit::settings {
namespace {

constexpr int kLowestPort = 1;
constexpr int kHighestPort = 4;

std::string platformDevice(int port)
{
#ifdef _WIN32
    return "COM" + std::to_string(port);
#else
    return "/dev/ttyS" + std::to_string(port - 1);
#endif
}

} // namespace

PortDevice serialDeviceFor(int port, const std::filesystem::path& file)
{
    if (port < kLowestPort || port > kHighestPort)
        return {};
    const std::string variable = "FIELDKIT_COM" + std::to_string(port);
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && *value != '\0')
        return {value, "environment " + variable};
    if (std::string fromSettings = readSerialDeviceSetting(file, port); !fromSettings.empty())
        return {std::move(fromSettings),
                std::string(kSettingsFileName) + " [SerialDevices] COM" + std::to_string(port)};
    return {platformDevice(port), "default"};
}

} // namespace fieldkit::settings
