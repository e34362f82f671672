#pragma once

// The settings file reader and writer against arbitrary file contents.
//
// The input is three lines, section, key and value, followed by the file's contents. What
// the INI module promises, and the harness checks:
//   - a read never returns more than its buffer would hold;
//   - for a plain section, key and value (letters, digits, '_', the value also '.'),
//     writing the value and reading it back gives the value; writing it again changes
//     nothing; and the system's own settings keep what they read before.

#include "fuzz/finding.h"
#include "settings/profile.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace fieldkit::fuzz {

struct ProfileProbe {
    std::string_view section;
    std::string_view key;
};
inline constexpr std::array<ProfileProbe, 3> kSystemSettings{{
    {"SerialPort", "PortNumber"},
    {"Firmware", "Version"},
    {"SerialDevices", "COM1"},
}};
inline constexpr std::array<std::size_t, 5> kBufferSizes{0, 1, 6, 14, 4096};
inline constexpr std::size_t kUnlimited = 1 << 20;

inline bool isPlain(std::string_view text, bool isValue)
{
    return text.size() <= 32 && (isValue || !text.empty()) &&
           std::all_of(text.begin(), text.end(), [isValue](char c) {
               return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_' || (isValue && c == '.');
           });
}

inline bool sameName(std::string_view a, std::string_view b)
{
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
        return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
    });
}

inline std::string_view takeLine(std::string_view& input)
{
    const auto end = input.find('\n');
    const auto line = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view{} : input.substr(end + 1);
    return line;
}

inline void replaySettingsInput(std::span<const std::uint8_t> input)
{
    std::string_view rest(reinterpret_cast<const char*>(input.data()), input.size());
    const auto section = takeLine(rest);
    const auto key = takeLine(rest);
    const auto value = takeLine(rest);
    const auto content = rest;

    for (const std::size_t bufferSize : kBufferSizes) {
        const auto read = settings::readProfileStringFrom(content, section, key, value, bufferSize);
        require(read.size() + 1 <= std::max<std::size_t>(bufferSize, 1), "a read fits its buffer");
    }
    if (!isPlain(section, false) || !isPlain(key, false) || !isPlain(value, true))
        return;

    const auto written = settings::withProfileString(content, section, key, value);
    require(settings::readProfileStringFrom(written, section, key, "", kUnlimited) == value,
            "a written value reads back");
    require(settings::withProfileString(written, section, key, value) == written,
            "writing the same value again changes nothing");
    for (const auto& probe : kSystemSettings) {
        if (sameName(probe.section, section) && sameName(probe.key, key))
            continue;
        require(settings::readProfileStringFrom(written, probe.section, probe.key, "-", kUnlimited) ==
                    settings::readProfileStringFrom(content, probe.section, probe.key, "-", kUnlimited),
                "writing one key leaves the others as they were");
    }
}

} // namespace fieldkit::fuzz
