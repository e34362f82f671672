#include "settings/port_devices.h"

#include "core/com_port.h"

#include <cstdlib>

namespace fieldkit::settings {
namespace {

std::string platformDevice(int port)
{
#ifdef _WIN32
    return comPortName(port);
#else
    return "/dev/ttyS" + std::to_string(port - 1);
#endif
}

} // namespace

PortDevice serialDeviceFor(int port, const std::filesystem::path& file)
{
    if (!isComPort(port))
        return {};
    const std::string variable = "FIELDKIT_" + comPortName(port);
    if (const char* value = std::getenv(variable.c_str()); value != nullptr && *value != '\0')
        return {value, "environment " + variable};
    if (std::string fromSettings = readSerialDeviceSetting(file, port); !fromSettings.empty())
        return {std::move(fromSettings),
                std::string(kSettingsFileName) + " [SerialDevices] COM" + std::to_string(port)};
    return {platformDevice(port), "default"};
}

} // namespace fieldkit::settings
