#include "image/firmware_image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>
#include <ostream>
#include <random>
#include <vector>

namespace fieldkit::image {
namespace {

TEST(FirmwareImage, StartsAsErasedFlashOfTheWholeUpperArea)
{
    const FirmwareImage image;
    ASSERT_EQ(image.size(), 0x60000u);
    EXPECT_TRUE(std::all_of(image.bytes().begin(), image.bytes().end(), [](auto b) { return b == 0xFF; }));
    EXPECT_EQ(image.region(ApplicationRegion).data(), image.data());
    EXPECT_EQ(image.region(ApplicationRegion).size(), 0x50000u);
    EXPECT_EQ(image.region(BootRegion).data(), image.data() + 0x5C000);
    EXPECT_EQ(image.region(BootRegion).size(), 0x4000u);
    EXPECT_EQ(BootRegion.flashAddress(), 0xFC000u);
}

struct ChecksumCase {
    const char* name;
    std::vector<std::uint8_t> bytes;
    std::uint16_t expected;
};

void PrintTo(const ChecksumCase& c, std::ostream* out)
{
    *out << c.name;
}

class ImageChecksum : public ::testing::TestWithParam<ChecksumCase> {};

TEST_P(ImageChecksum, IsTheNegatedWrappingSum)
{
    EXPECT_EQ(imageChecksum(GetParam().bytes), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, ImageChecksum,
    ::testing::Values(ChecksumCase{"Abc", {0x61, 0x62, 0x63}, 0xFEDA},
                      ChecksumCase{"BootRegionErased", std::vector<std::uint8_t>(0x4000, 0xFF), 0x4000},
                      ChecksumCase{"ApplicationRegionErased", std::vector<std::uint8_t>(0x50000, 0xFF), 0x0000},
                      ChecksumCase{"Empty", {}, 0x0000}, ChecksumCase{"SumExactlyWraps", {0xFF, 0x01}, 0xFF00},
                      ChecksumCase{"SingleOne", {0x01}, 0xFFFF}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ImageChecksum, CoveredBytesPlusChecksumAddUpToZero)
{
    std::mt19937 random(7);
    std::vector<std::uint8_t> bytes(100'003);
    for (auto& byte : bytes)
        byte = static_cast<std::uint8_t>(random());
    const unsigned sum = std::accumulate(bytes.begin(), bytes.end(), 0u);
    EXPECT_EQ((sum + imageChecksum(bytes)) % 65536, 0u);
}

TEST(ImageHeader, OnAnErasedImageHasChecksumFe00AndItsComplementPage)
{
    FirmwareImage image;
    writeImageHeader(image);
    const std::vector<std::uint8_t> header(image.data(), image.data() + 12);
    EXPECT_EQ(header, (std::vector<std::uint8_t>{0x01, 0x00, 0x50, 0x10, // format mark
                                                 0x00, 0xFE,             // checksum 0xFE00, low byte first
                                                 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    const std::vector<std::uint8_t> complementStart(image.data() + 0x4FF00, image.data() + 0x4FF0C);
    EXPECT_EQ(complementStart,
              (std::vector<std::uint8_t>{0xFE, 0xFF, 0xAF, 0xEF, 0xFF, 0x01, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}));
    // The rest of the first page is erased, so its complement is zero.
    EXPECT_TRUE(std::all_of(image.data() + 0x4FF0C, image.data() + 0x50000, [](auto b) { return b == 0x00; }));
}

TEST(ImageHeader, OverwritesWhatTheFileLoadedInTheHeaderBytes)
{
    FirmwareImage image;
    std::fill_n(image.data(), 12, 0x5A);
    writeImageHeader(image);
    for (std::size_t i = 6; i < 12; ++i)
        EXPECT_EQ(image.data()[i], 0xFF) << "header byte " << i;
    EXPECT_EQ(image.data()[0], 0x01);
    EXPECT_EQ(image.data()[3], 0x10);
}

TEST(ImageHeader, ComplementPageMirrorsTheFinishedFirstPage)
{
    FirmwareImage image;
    std::mt19937 random(3);
    for (std::size_t i = 0; i < 0x200; ++i)
        image.data()[i] = static_cast<std::uint8_t>(random());
    writeImageHeader(image);
    for (std::size_t i = 0; i < 0x100; ++i)
        ASSERT_EQ(image.data()[0x4FF00 + i], static_cast<std::uint8_t>(~image.data()[i])) << "byte " << i;
    // The header's checksum bytes are part of what is mirrored.
    EXPECT_EQ(image.data()[0x4FF04], static_cast<std::uint8_t>(~image.data()[4]));
}

std::uint16_t storedChecksum(const FirmwareImage& image)
{
    return static_cast<std::uint16_t>(image.data()[4] | image.data()[5] << 8);
}

TEST(ImageHeader, ChecksumIgnoresTheFirstPageTheComplementPageAndTheOtherRegions)
{
    FirmwareImage reference;
    writeImageHeader(reference);

    FirmwareImage image;
    std::fill_n(image.data(), 0x100, 0x12);
    std::fill_n(image.data() + 0x4FF00, 0x100, 0x34);
    std::fill(image.data() + 0x50000, image.data() + image.size(), 0x56);
    writeImageHeader(image);
    EXPECT_EQ(storedChecksum(image), storedChecksum(reference));
}

class ImageHeaderCoverage : public ::testing::TestWithParam<std::size_t> {};

TEST_P(ImageHeaderCoverage, ChangingOneCoveredByteChangesTheChecksum)
{
    FirmwareImage image;
    writeImageHeader(image);
    const std::uint16_t before = storedChecksum(image);

    FirmwareImage changed;
    changed.data()[GetParam()] = 0xFE;
    writeImageHeader(changed);
    EXPECT_EQ(storedChecksum(changed), static_cast<std::uint16_t>(before + 1));
}

// First and last covered byte, the configuration block, a byte in the middle.
INSTANTIATE_TEST_SUITE_P(Offsets, ImageHeaderCoverage, ::testing::Values(0x100, 0x200, 0x3D6, 0x28000, 0x4FEFF));

} // namespace
} // namespace fieldkit::image
