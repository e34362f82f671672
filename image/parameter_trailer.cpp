#include "image/parameter_trailer.h"

#include <algorithm>

namespace fieldkit::image {

namespace {

// Field offsets inside the trailer, little-endian numbers.
constexpr std::size_t kEsnOffset = 0x00;
constexpr std::size_t kEsnComplementOffset = 0x04;
constexpr std::size_t kWord08Offset = 0x08;
constexpr std::size_t kByte0AOffset = 0x0A;
constexpr std::size_t kWord0BOffset = 0x0B;
constexpr std::size_t kWord0DOffset = 0x0D;
constexpr std::size_t kEsnBandOffset = 0x0F;
constexpr std::size_t kNoticeOffset = 0x18;
constexpr std::size_t kNoticeFieldSize = 40;

constexpr std::uint16_t kDefaultWord08 = 12;
constexpr std::uint8_t kDefaultByte0A = 8;
constexpr std::uint16_t kDefaultWord0B = 3339;
constexpr std::uint16_t kDefaultWord0D = 7949;

static_assert(kTrailerNotice.size() == 32, "the notice is 32 characters");
static_assert(kNoticeOffset + kNoticeFieldSize + 64 == kTrailerSize);

void storeLe(std::span<std::uint8_t> record, std::size_t offset, std::uint32_t value, std::size_t width)
{
    for (std::size_t i = 0; i < width; ++i)
        record[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

std::uint32_t loadLe32(std::span<const std::uint8_t> bytes, std::size_t offset)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value |= static_cast<std::uint32_t>(bytes[offset + i]) << (8 * i);
    return value;
}

} // namespace

std::optional<std::uint32_t> esnInParameterBlock(std::span<const std::uint8_t> block)
{
    if (block.size() < kEsnComplementOffset + 4)
        return std::nullopt;
    const std::uint32_t esn = loadLe32(block, kEsnOffset);
    if (loadLe32(block, kEsnComplementOffset) != static_cast<std::uint32_t>(~esn))
        return std::nullopt;
    return esn;
}

BoardParameterTrailer::BoardParameterTrailer()
{
    reset();
}

void BoardParameterTrailer::reset()
{
    record_.fill(0);
    storeLe(record_, kWord08Offset, kDefaultWord08, 2);
    storeLe(record_, kByte0AOffset, kDefaultByte0A, 1);
    storeLe(record_, kWord0BOffset, kDefaultWord0B, 2);
    storeLe(record_, kWord0DOffset, kDefaultWord0D, 2);
    std::copy(kTrailerNotice.begin(), kTrailerNotice.end(), record_.begin() + kNoticeOffset);
}

bool BoardParameterTrailer::takeParameterBlock(std::span<const std::uint8_t> block)
{
    if (block.size() < kTrailerParameterBytes)
        return false;
    std::copy_n(block.begin(), kTrailerParameterBytes, record_.begin());
    return true;
}

void BoardParameterTrailer::fillFromEsn(std::uint32_t esn)
{
    storeLe(record_, kEsnOffset, esn, 4);
    storeLe(record_, kEsnComplementOffset, ~esn, 4);
    record_[kEsnBandOffset] = static_cast<std::uint8_t>(((esn >> 20) & 3) + 1);
}

void BoardParameterTrailer::storeInImage(FirmwareImage& image) const
{
    std::copy(record_.begin(), record_.end(), image.bytes().begin() + kTrailerImageOffset);
}

} // namespace fieldkit::image
