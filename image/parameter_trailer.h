#pragma once

// The per-board parameter trailer: 128 bytes that carry the board's own parameters into the
// new boot code, at flash 0xFFF00 to 0xFFF7F (image offsets 0x5FF00 to 0x5FF7F). A board
// that cannot deliver its parameter block gets a trailer built from its ESN instead.

#include "image/firmware_image.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

namespace fieldkit::image {

inline constexpr std::size_t kTrailerSize = 128;
inline constexpr std::size_t kTrailerImageOffset = 0x5FF00;
// Bytes of the board's parameter block that the trailer takes; the rest is read and unused.
inline constexpr std::size_t kTrailerParameterBytes = 24;
// The fixed notice, 32 characters followed by 8 zero bytes in its 40-byte field.
inline constexpr std::string_view kTrailerNotice = "Per-board parameters, keep safe.";

// The ESN a parameter block (or a trailer) carries in its first eight bytes: the ESN, least
// significant byte first, then its bitwise complement, as the fallback lays them. Nothing
// when bytes 4 to 7 are not the complement of bytes 0 to 3 or the block is shorter.
std::optional<std::uint32_t> esnInParameterBlock(std::span<const std::uint8_t> block);

class BoardParameterTrailer {
public:
    // Zeroed and given the defaults, as reset() leaves it.
    BoardParameterTrailer();

    // All zero but the defaults 12, 8, 3339 and 7949 and the notice text.
    void reset();

    // The first 24 bytes of the board's parameter block replace the first 24 of the
    // trailer. A block shorter than that changes nothing and gives false.
    bool takeParameterBlock(std::span<const std::uint8_t> block);

    // The fallback: the ESN, its complement and ((esn >> 20) & 3) + 1; the defaults stay.
    void fillFromEsn(std::uint32_t esn);

    // Copies the 128 bytes to image offsets 0x5FF00 to 0x5FF7F and touches nothing else.
    void storeInImage(FirmwareImage& image) const;

    std::span<const std::uint8_t, kTrailerSize> bytes() const { return record_; }

private:
    std::array<std::uint8_t, kTrailerSize> record_{};
};

} // namespace fieldkit::image
