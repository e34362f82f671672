#pragma once

#include <cstdint>
#include <span>

namespace fieldkit::wire {

// CRC-16/CCITT-FALSE: polynomial 0x1021, initial value 0xFFFF, no reflection, no final
// XOR. "123456789" gives 0x29B1. Pass a previous result as `crc` to continue over more bytes.
inline constexpr std::uint16_t kCrcInit = 0xFFFF;
std::uint16_t crc16(std::span<const std::uint8_t> bytes, std::uint16_t crc = kCrcInit);

} // namespace fieldkit::wire
