#include "settings/app_settings.h"

#include "core/com_port.h"

#include "settings/profile.h"

#include <algorithm>
#include <cctype>

namespace fieldkit::settings {
namespace {

// C's atoi: leading white space, an optional sign, then digits up to the first non-digit.
int leadingNumber(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    long long value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value = std::min<long long>(value * 10 + (text[i] - '0'), 1LL << 32);
    return static_cast<int>(negative ? -std::min<long long>(value, 1LL << 31) : std::min<long long>(value, (1LL << 31) - 1));
}

} // namespace

std::filesystem::path settingsFile()
{
    return std::filesystem::path(".") / kSettingsFileName;
}

PortSetting parsePortSetting(std::string_view value)
{
    PortSetting setting;
    setting.withoutPrefix = !(value.size() >= 3 && std::toupper(static_cast<unsigned char>(value[0])) == 'C' &&
                              std::toupper(static_cast<unsigned char>(value[1])) == 'O' &&
                              std::toupper(static_cast<unsigned char>(value[2])) == 'M');
    if (!setting.withoutPrefix)
        setting.port = leadingNumber(value.substr(3));
    if (!isComPort(setting.port)) {
        setting.port = 1;
        setting.invalid = true;
    }
    return setting;
}

PortSetting readPortSetting(const std::filesystem::path& file)
{
    return parsePortSetting(readProfileString(file, "SerialPort", "PortNumber", "COM1", kPortValueBuffer));
}

std::string readFirmwareVersionSetting(const std::filesystem::path& file)
{
    return readProfileString(file, "Firmware", "Version", kUndefinedVersion, kVersionBuffer);
}

bool writePortSetting(const std::filesystem::path& file, int port, std::string* error)
{
    return writeProfileString(file, "SerialPort", "PortNumber", comPortName(port), error);
}

std::string readSerialDeviceSetting(const std::filesystem::path& file, int port)
{
    return readProfileString(file, "SerialDevices", comPortName(port), "", 4096);
}

std::string readHistoryBenchSetting(const std::filesystem::path& file)
{
    return readProfileString(file, "History", "Bench", "", 256);
}

std::string readHistoryDatabaseSetting(const std::filesystem::path& file)
{
    return readProfileString(file, "History", "Database", "", 4096);
}

} // namespace fieldkit::settings
