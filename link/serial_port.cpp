#include "link/serial_port.h"

#include "link/line_profile.h"

#ifdef _WIN32
#include "link/windows_serial_channel.h"
#else
#include "link/qt_serial_channel.h"
#endif

namespace fieldkit::link {

std::unique_ptr<wire::ByteChannel> serialChannel(const std::string& device)
{
#ifdef _WIN32
    return std::make_unique<WindowsSerialChannel>(device, kQm7731BaudRate);
#else
    return std::make_unique<QtSerialChannel>(device, kQm7731BaudRate);
#endif
}

ChannelFactory serialPortChannels(PortDevices devices)
{
    return [devices = std::move(devices)](int port) { return serialChannel(devices(port)); };
}

} // namespace fieldkit::link
