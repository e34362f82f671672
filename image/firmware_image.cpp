#include "image/firmware_image.h"

#include <array>
#include <algorithm>

namespace fieldkit::image {

namespace {

// Format mark of the header: its first four bytes.
constexpr std::array<std::uint8_t, 4> kHeaderMark{0x01, 0x00, 0x50, 0x10};
constexpr std::size_t kHeaderPaddingOffset = 6;

} // namespace

FirmwareImage::FirmwareImage() : bytes_(kImageSize, kErasedByte) {}

std::uint16_t imageChecksum(std::span<const std::uint8_t> bytes)
{
    // Summing in a wide word and truncating gives the same low 16 bits as a wrapping 16-bit
    // sum, and lets the compiler vectorise the loop.
    std::uint64_t sum = 0;
    for (const std::uint8_t byte : bytes)
        sum += byte;
    return static_cast<std::uint16_t>(0x10000u - (sum & 0xFFFFu));
}

void writeImageHeader(FirmwareImage& image)
{
    const auto bytes = image.bytes();
    std::copy(kHeaderMark.begin(), kHeaderMark.end(), bytes.begin());

    const std::uint16_t checksum = imageChecksum(bytes.subspan(kHeaderChecksumRangeOffset, kHeaderChecksumRangeSize));
    bytes[kHeaderChecksumOffset] = static_cast<std::uint8_t>(checksum & 0xFF);
    bytes[kHeaderChecksumOffset + 1] = static_cast<std::uint8_t>(checksum >> 8);

    std::fill(bytes.begin() + kHeaderPaddingOffset, bytes.begin() + kImageHeaderSize, kErasedByte);

    for (std::size_t i = 0; i < kComplementPageSize; ++i)
        bytes[kComplementPageOffset + i] = static_cast<std::uint8_t>(~bytes[i]);
}

std::uint16_t headerChecksum(const FirmwareImage& image)
{
    const auto bytes = image.bytes();
    return static_cast<std::uint16_t>(bytes[kHeaderChecksumOffset] | bytes[kHeaderChecksumOffset + 1] << 8);
}

} // namespace fieldkit::image
