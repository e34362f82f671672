#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

namespace fieldkit::link {

// How the radio's programming cable runs the line to the option board. Every profile is
// 8 data bits, no parity, one stop bit and no flow control; only the speed differs.
struct LineProfile {
    std::string_view radioModel;
    std::uint32_t baudRate;
};

// A start bit, eight data bits and a stop bit.
inline constexpr std::uint32_t kLineBitsPerByte = 10;

inline constexpr std::uint32_t kQm7731BaudRate = 115200;
inline constexpr std::array kLineProfiles{LineProfile{"QM7731", kQm7731BaudRate}};

constexpr std::optional<LineProfile> lineProfileFor(std::string_view radioModel)
{
    for (const LineProfile& profile : kLineProfiles)
        if (profile.radioModel == radioModel)
            return profile;
    return std::nullopt;
}

} // namespace fieldkit::link
