#include "image/parameter_trailer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <ostream>
#include <vector>

namespace fieldkit::image {
namespace {

std::vector<std::uint8_t> at(const FirmwareImage& image, std::size_t offset, std::size_t count)
{
    return {image.data() + offset, image.data() + offset + count};
}

// An image whose boot area holds a pattern, as the boot code file would leave it.
FirmwareImage loadedImage()
{
    FirmwareImage image;
    for (std::size_t i = kBootRegionOffset; i < kImageSize; ++i)
        image.data()[i] = static_cast<std::uint8_t>(i * 7);
    return image;
}

TEST(BoardParameterTrailer, EsnFallbackFor0x12345678)
{
    BoardParameterTrailer trailer;
    trailer.fillFromEsn(0x12345678);
    FirmwareImage image = loadedImage();
    trailer.storeInImage(image);
    EXPECT_EQ(at(image, 0x5FF00, 24), (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12, // ESN
                                                                 0x87, 0xA9, 0xCB, 0xED, // its complement
                                                                 0x0C, 0x00,             // 12
                                                                 0x08,                   // 8
                                                                 0x0B, 0x0D,             // 3339
                                                                 0x0D, 0x1F,             // 7949
                                                                 0x04,                   // ESN bits 21..20 = 3, plus 1
                                                                 0,    0,    0,    0,    0, 0, 0, 0}));
}

struct EsnBitsCase {
    std::uint32_t esn;
    std::uint8_t expected;
};

void PrintTo(const EsnBitsCase& c, std::ostream* out)
{
    *out << "esn 0x" << std::hex << c.esn;
}

class TrailerEsnBits : public ::testing::TestWithParam<EsnBitsCase> {};

TEST_P(TrailerEsnBits, ByteAt0x5FF0FIsBits21And20PlusOne)
{
    BoardParameterTrailer trailer;
    trailer.fillFromEsn(GetParam().esn);
    EXPECT_EQ(trailer.bytes()[0x0F], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Bits, TrailerEsnBits,
                         ::testing::Values(EsnBitsCase{0x00000000, 1}, EsnBitsCase{0xFFCFFFFF, 1},
                                           EsnBitsCase{0x00100000, 2}, EsnBitsCase{0x00200000, 3},
                                           EsnBitsCase{0x00300000, 4}, EsnBitsCase{0xFFFFFFFF, 4}));

TEST(BoardParameterTrailer, ParameterBlockGivesTheFirst24BytesAndNothingMore)
{
    std::vector<std::uint8_t> block(52);
    for (std::size_t i = 0; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(0xA0 + i);
    BoardParameterTrailer trailer;
    ASSERT_TRUE(trailer.takeParameterBlock(block));
    FirmwareImage image = loadedImage();
    trailer.storeInImage(image);

    EXPECT_EQ(at(image, 0x5FF00, 24), std::vector<std::uint8_t>(block.begin(), block.begin() + 24));
    // The rest is the notice and zeros: no byte 24 to 51 of the block anywhere after it.
    const auto rest = at(image, 0x5FF18, 0x68);
    for (std::size_t i = 24; i < block.size(); ++i)
        EXPECT_EQ(std::search(rest.begin(), rest.end(), block.begin() + static_cast<std::ptrdiff_t>(i),
                              block.begin() + static_cast<std::ptrdiff_t>(i) + 1),
                  rest.end())
            << "block byte " << i;
}

TEST(BoardParameterTrailer, BlockShorterThan24BytesIsRefused)
{
    BoardParameterTrailer trailer;
    const auto before = std::vector<std::uint8_t>(trailer.bytes().begin(), trailer.bytes().end());
    const std::vector<std::uint8_t> shortBlock(23, 0x55);
    EXPECT_FALSE(trailer.takeParameterBlock(shortBlock));
    EXPECT_FALSE(trailer.takeParameterBlock({}));
    EXPECT_EQ(std::vector<std::uint8_t>(trailer.bytes().begin(), trailer.bytes().end()), before);
}

TEST(BoardParameterTrailer, StartsWithDefaultsNoticeAndZeros)
{
    const BoardParameterTrailer trailer;
    const std::vector<std::uint8_t> bytes(trailer.bytes().begin(), trailer.bytes().end());
    EXPECT_EQ(std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 24),
              (std::vector<std::uint8_t>{0,    0,    0,    0, 0, 0, 0, 0, 0x0C, 0x00, 0x08, 0x0B,
                                         0x0D, 0x0D, 0x1F, 0, 0, 0, 0, 0, 0,    0,    0,    0}));
    // The notice: 32 printable ASCII characters, then 8 zero bytes.
    EXPECT_TRUE(std::all_of(bytes.begin() + 0x18, bytes.begin() + 0x38, [](auto c) { return c >= 0x20 && c <= 0x7E; }));
    EXPECT_TRUE(std::all_of(bytes.begin() + 0x38, bytes.end(), [](auto b) { return b == 0; }));
}

TEST(BoardParameterTrailer, ResetForgetsTheLastBoard)
{
    BoardParameterTrailer trailer;
    const std::vector<std::uint8_t> fresh(trailer.bytes().begin(), trailer.bytes().end());
    trailer.takeParameterBlock(std::vector<std::uint8_t>(52, 0x99));
    trailer.fillFromEsn(0xDEADBEEF);
    trailer.reset();
    EXPECT_EQ(std::vector<std::uint8_t>(trailer.bytes().begin(), trailer.bytes().end()), fresh);
}

struct BlockEsnCase {
    const char* name;
    std::vector<std::uint8_t> block;
    std::optional<std::uint32_t> esn;
};

class EsnInParameterBlock : public ::testing::TestWithParam<BlockEsnCase> {};

TEST_P(EsnInParameterBlock, IsTheFirstWordWhenTheSecondIsItsComplement)
{
    EXPECT_EQ(esnInParameterBlock(GetParam().block), GetParam().esn);
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, EsnInParameterBlock,
    ::testing::Values(BlockEsnCase{"Complemented", {0x78, 0x56, 0x34, 0x12, 0x87, 0xA9, 0xCB, 0xED, 0x0C}, 0x12345678},
                      BlockEsnCase{"AllOnesAndZeros", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0}, 0xFFFFFFFF},
                      BlockEsnCase{"OneBitOff", {0x78, 0x56, 0x34, 0x12, 0x87, 0xA9, 0xCB, 0xEC}, std::nullopt},
                      BlockEsnCase{"ErasedBlock", std::vector<std::uint8_t>(52, 0xFF), std::nullopt},
                      BlockEsnCase{"SevenBytes", {0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0}, std::nullopt}),
    [](const auto& info) { return std::string(info.param.name); });

class TrailerStore : public ::testing::TestWithParam<bool> {};

TEST_P(TrailerStore, WritesOnly0x5FF00To0x5FF7FWithItsLastHalfZero)
{
    BoardParameterTrailer trailer;
    if (GetParam())
        trailer.takeParameterBlock(std::vector<std::uint8_t>(52, 0xEE));
    else
        trailer.fillFromEsn(0x87654321);
    const FirmwareImage before = loadedImage();
    FirmwareImage image = loadedImage();
    trailer.storeInImage(image);

    EXPECT_EQ(at(image, 0x5FF40, 64), std::vector<std::uint8_t>(64, 0));
    EXPECT_TRUE(std::equal(image.data(), image.data() + 0x5FF00, before.data()));
    EXPECT_TRUE(std::equal(image.data() + 0x5FF80, image.data() + kImageSize, before.data() + 0x5FF80));
}

INSTANTIATE_TEST_SUITE_P(BothPaths, TrailerStore, ::testing::Bool());

} // namespace
} // namespace fieldkit::image
