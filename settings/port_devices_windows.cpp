// What a device name means on Windows: the COM port, whatever the case or device prefix.

#include "settings/port_devices.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace fieldkit::settings {
namespace {

std::string normalisedPort(std::string name)
{
    for (std::string_view prefix : {R"(\\.\)", R"(\\?\)"})
        if (name.rfind(prefix, 0) == 0)
            name.erase(0, prefix.size());
    if (!name.empty() && name.back() == ':')
        name.pop_back();
    std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::toupper(c); });
    return name;
}

} // namespace

bool sameDevice(const std::string& first, const std::string& second)
{
    return normalisedPort(first) == normalisedPort(second);
}

} // namespace fieldkit::settings
