#pragma once

// The host-memory picture of the option board's upper flash, 0xA0000 to 0xFFFFF, that one
// upgrade builds and writes. Image offset n holds the byte for board flash address
// 0xA0000 + n.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace fieldkit::image {

inline constexpr std::size_t kImageSize = 0x60000;
inline constexpr std::uint32_t kFlashBase = 0xA0000;
// Erased flash reads as all ones; a page still all 0xFF is blank and never written.
inline constexpr std::uint8_t kErasedByte = 0xFF;

// A range of image offsets that is written to the board as one piece.
struct ImageRegion {
    std::size_t offset;
    std::size_t size;
    std::uint32_t flashAddress() const { return kFlashBase + static_cast<std::uint32_t>(offset); }
};

// The application code: board flash 0xA0000 to 0xEFFFF, the five 64 KB application blocks.
inline constexpr std::size_t kApplicationRegionOffset = 0x00000;
inline constexpr std::size_t kApplicationRegionSize = 0x50000;
inline constexpr ImageRegion ApplicationRegion{kApplicationRegionOffset, kApplicationRegionSize};

// The boot code as it finally lies at 0xFC000 to 0xFFFFF. It travels through the board's
// temporary area at 0xA0000 and the board copies it into place on the boot copy command.
inline constexpr std::size_t kBootRegionOffset = 0x5C000;
inline constexpr std::size_t kBootRegionSize = 0x4000;
inline constexpr ImageRegion BootRegion{kBootRegionOffset, kBootRegionSize};
inline constexpr std::uint32_t kBootFlashAddress = kFlashBase + kBootRegionOffset;

// The fixed 12-byte header at the start of the application region. Its checksum covers the
// application region without its first page and without the complement page, so it does not
// depend on itself. The complement page, the region's last, holds the finished first page
// with every bit inverted.
inline constexpr std::size_t kImageHeaderSize = 12;
inline constexpr std::size_t kHeaderChecksumOffset = 4;
inline constexpr std::size_t kHeaderChecksumRangeOffset = 0x100;
inline constexpr std::size_t kHeaderChecksumRangeSize = 0x4FE00;
inline constexpr std::size_t kComplementPageOffset = 0x4FF00;
inline constexpr std::size_t kComplementPageSize = 0x100;

class FirmwareImage {
public:
    // Every byte 0xFF, as erased flash.
    FirmwareImage();

    std::span<std::uint8_t> bytes() { return bytes_; }
    std::span<const std::uint8_t> bytes() const { return bytes_; }
    std::uint8_t* data() { return bytes_.data(); }
    const std::uint8_t* data() const { return bytes_.data(); }
    std::size_t size() const { return bytes_.size(); }

    std::span<std::uint8_t> region(ImageRegion r) { return bytes().subspan(r.offset, r.size); }
    std::span<const std::uint8_t> region(ImageRegion r) const { return bytes().subspan(r.offset, r.size); }

private:
    std::vector<std::uint8_t> bytes_;
};

// The 16-bit wrapping sum of the bytes, negated modulo 65536: the covered bytes plus the
// checksum add up to 0. No bytes give 0.
std::uint16_t imageChecksum(std::span<const std::uint8_t> bytes);

// Writes the ImageHeader (with the checksum of offsets 0x100 to 0x4FEFF) and then the
// ComplementPage, the bitwise complement of the finished first page. Call it after the
// default configuration block is in place and before the parameter trailer is.
void writeImageHeader(FirmwareImage& image);

// The checksum writeImageHeader stored in the header, least significant byte first.
std::uint16_t headerChecksum(const FirmwareImage& image);

} // namespace fieldkit::image
