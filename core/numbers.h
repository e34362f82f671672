#pragma once

// Numbers and byte strings as technicians type them: on the command line, in emulator
// options. One rule set for every program.

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace fieldkit {

// Decimal, or hex after "0x" / "0X". No sign, no spaces, no octal: a leading zero is still
// decimal. Empty when the text is not such a number or does not fit 64 bits.
std::optional<std::uint64_t> parseNumber(std::string_view text);

// Pairs of hex digits; spaces, ':' and '-' between the pairs are ignored. Empty when a
// character is not a hex digit, a separator splits a pair, or the digits do not pair up.
// An empty text is zero bytes.
std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text);

} // namespace fieldkit
