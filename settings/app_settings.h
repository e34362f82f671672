#pragma once

// The program's own settings in AppConfig.ini in the current directory.

#include <filesystem>
#include <string>
#include <string_view>

namespace fieldkit::settings {

inline constexpr const char* kSettingsFileName = "AppConfig.ini";
inline constexpr const char* kInvalidPortWarning =
    "No valid COM port setting found in .ini file.  Using default of COM1.";
inline constexpr const char* kUndefinedVersion = "UNDEFINED";

// Longest texts the settings hold: the port value fits a 6-byte buffer, the version a 14-byte one.
inline constexpr std::size_t kPortValueBuffer = 6;
inline constexpr std::size_t kVersionBuffer = 14;

std::filesystem::path settingsFile();

struct PortSetting {
    int port = 1;
    bool invalid = false;       // the value named a COM port outside 1 to 4: warn with kInvalidPortWarning
    bool withoutPrefix = false; // the value lacked "COM" and was taken as COM1 without a word
};

// The port named by a "PortNumber" value: "COM" in any case, then a number read like C's
// atoi. A value without the prefix keeps port 1 silently; a number outside 1 to 4 (none
// included) falls back to 1 and is flagged invalid.
PortSetting parsePortSetting(std::string_view value);

// "SerialPort"/"PortNumber", default "COM1".
PortSetting readPortSetting(const std::filesystem::path& file);

// "Firmware"/"Version", default "UNDEFINED", at most 13 characters.
std::string readFirmwareVersionSetting(const std::filesystem::path& file);

// Writes "COM<port>" to "SerialPort"/"PortNumber".
bool writePortSetting(const std::filesystem::path& file, int port, std::string* error = nullptr);

// "SerialDevices"/"COM<port>": the device a COM port number stands for on this machine;
// empty when not set.
std::string readSerialDeviceSetting(const std::filesystem::path& file, int port);

// "History"/"Bench": the name the shop database knows this bench by; empty when not set.
std::string readHistoryBenchSetting(const std::filesystem::path& file);

// "History"/"Database": the shop database's connection string; empty when not set.
std::string readHistoryDatabaseSetting(const std::filesystem::path& file);

} // namespace fieldkit::settings
