#pragma once

// Numbers and byte strings as technicians type them on the command line.

#include <CLI/CLI.hpp>

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace fieldkit::cli {

// Decimal, or hex after "0x" / "0X". No sign, no spaces, no octal: a leading zero is still
// decimal. Empty when the text is not such a number or does not fit 64 bits.
std::optional<std::uint64_t> parseNumber(std::string_view text);

// Pairs of hex digits; spaces, ':' and '-' between them are ignored. Empty when a
// character is not a hex digit or the digits do not pair up.
std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text);

// Option checks for CLI11, so a bad value is a usage error with the option named.
CLI::Validator numberUpTo(std::uint64_t largest);
CLI::Validator hexBytesAtLeast(std::size_t count);

} // namespace fieldkit::cli
