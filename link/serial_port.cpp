#include "link/serial_port.h"

#include "link/line_profile.h"
#include "link/qt_serial_channel.h"
#include "link/serial_board_link.h"

#include <QSerialPortInfo>

#include <cstdlib>

namespace fieldkit::link {
namespace {

constexpr const char* kPortEnvironmentPrefix = "FIELDKIT_COM";

#ifdef _WIN32
std::string platformDevice(int port) { return "COM" + std::to_string(port); }
#else
std::string platformDevice(int port) { return "/dev/ttyS" + std::to_string(port - 1); }
#endif

} // namespace

std::string deviceForPort(int port, const std::filesystem::path& settingsFile)
{
    if (port < kLowestPort || port > kHighestPort)
        return {};
    const std::string variable = kPortEnvironmentPrefix + std::to_string(port);
    const char* fromEnvironment = std::getenv(variable.c_str());
    if (fromEnvironment != nullptr && *fromEnvironment != '\0')
        return fromEnvironment;
    if (std::string fromSettings = settings::readSerialDeviceSetting(settingsFile, port); !fromSettings.empty())
        return fromSettings;
    return platformDevice(port);
}

ChannelFactory serialPortChannels(std::filesystem::path settingsFile)
{
    return [settingsFile = std::move(settingsFile)](int port) -> std::unique_ptr<wire::ByteChannel> {
        return std::make_unique<QtSerialChannel>(deviceForPort(port, settingsFile), kQm7731BaudRate);
    };
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
