#pragma once

// The default board configuration that every upgrade lays into the application code: one
// 471-byte record, chosen by the board's configVariant (band x 2 + variant bit), at the
// start of one of eight 1024-byte configuration slots.

#include "image/firmware_image.h"

#include <cstddef>
#include <cstdint>

namespace fieldkit::image {

inline constexpr std::size_t kConfigRecordSize = 471;
inline constexpr std::size_t kConfigSlotSize = 1024;
inline constexpr std::size_t kConfigSlotCount = 8;
inline constexpr std::uint8_t kConfigVariantCount = 8;

// What an upgrade writes: slot 1, whose slots start at flash 0xA0200 (image offset 0x200).
inline constexpr std::uint8_t kUpgradeConfigSlot = 1;
inline constexpr std::uint32_t kUpgradeConfigSlotBase = 0xA0200;

// Store the low 1, 2 or 4 bytes of `value` at an image offset, least significant byte
// first. An offset whose bytes would not all lie inside the image throws std::out_of_range.
void putU8(FirmwareImage& image, std::size_t offset, std::uint8_t value);
void putU16Le(FirmwareImage& image, std::size_t offset, std::uint16_t value);
void putU32Le(FirmwareImage& image, std::size_t offset, std::uint32_t value);

// Writes the record for `configVariant` into slot `slot` (index (slot - 1) mod 8, so 0 is
// the same as 8 and 9 the same as 1) of the slots that start at flash address `slotBase`.
// A configVariant outside 0 to 7 writes only the common part and the tail. Bytes that the
// record leaves out keep what the image held. When the record would not lie wholly inside
// the image (slotBase below 0xA0000 or too high) nothing at all is written.
void writeDefaultConfigBlock(std::uint8_t configVariant, std::uint8_t slot, FirmwareImage& image,
                             std::uint32_t slotBase);

} // namespace fieldkit::image
