#include "image/config_block.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace fieldkit::image {
namespace {

constexpr std::size_t kRecord = 0x200; // slot 1 with slot base 0xA0200

std::vector<std::uint8_t> at(const FirmwareImage& image, std::size_t offset, std::size_t count)
{
    return {image.data() + offset, image.data() + offset + count};
}

std::vector<std::uint8_t> text(const std::string& characters)
{
    std::vector<std::uint8_t> bytes(characters.begin(), characters.end());
    bytes.push_back(0);
    return bytes;
}

FirmwareImage imageWithBlock(std::uint8_t configVariant, std::uint8_t fill = 0xFF)
{
    FirmwareImage image;
    std::fill(image.bytes().begin(), image.bytes().end(), fill);
    writeDefaultConfigBlock(configVariant, kUpgradeConfigSlot, image, kUpgradeConfigSlotBase);
    return image;
}

// Every byte of the record for configVariant 0, field by field; 0xFF marks a byte the record
// leaves alone on an erased image.
std::vector<std::uint8_t> goldenVariant0()
{
    std::vector<std::uint8_t> g;
    const auto put = [&g](std::initializer_list<std::uint8_t> bytes) { g.insert(g.end(), bytes); };
    const auto zeros = [&g](std::size_t count) { g.insert(g.end(), count, 0x00); };
    const auto blank = [&g](std::size_t count) { g.insert(g.end(), count, 0xFF); };
    const auto name = [&g](const std::string& s) {
        const auto t = text(s);
        g.insert(g.end(), t.begin(), t.end());
    };

    put({0x10, 0x01, 0x58, 0x02, 0xCA, 0x02, 0x74, 0x01, 0xCC, 0x02, 0x84, 0x01, 0xD4,
         0x02});                           // +0: 272 600 714 372 716 388 724
    blank(2);                              // +14, +15 left alone
    put({0x89, 0x67});                     // +16: 26505
    zeros(10);                             // +18 to +27
    put({10, 10});                         // +28, +29
    zeros(3);                              // +30 to +32
    put({0x0C});                           // +33: bits 2 and 3
    zeros(3 + 66);                         // +34 to +102
    put({2, 8});                           // +103, +104
    zeros(8);                              // +105 to +112
    put({20, 0, 0, 1, 32});                // +113 to +117
    zeros(14);                             // +118 to +131
    put({0x01, 0x00, 0x88, 0x01});         // +132: 1, +134: 392
    put({0xF0, 0x01, 0x01, 0x00});         // +136: 496, +138: 1
    for (int copy = 0; copy < 2; ++copy) { // +140 and again +150
        put({0x20, 0x80, 0xA3, 0x1B});     //   463700000 Hz
        put({0x00, 0x00});                 //   +144: 0
        put({0x00, 0x00, 0x00, 0x00});     //   +146: 0 Hz
    }
    put({0xF8, 0x03});                                // +160 flags, +161 flags
    put({0xFE, 0xFF});                                // +162: -2
    put({50});                                        // +164
    put({0x85, 0x03});                                // +165: 901
    put({0xF2, 0x03});                                // +167: 1010
    put({50});                                        // +169
    put({30, 10, 20, 0, 3, 8});                       // +170 to +175
    name("Deflt Portable");                           // +176 to +190
    put({10, 0, 0, 2, 2, 5, 0, 5, 0});                // +191 to +199
    put({0, 0, 0, 0x40, 0x39, 0});                    // +200 to +205 flags
    put({0, 85});                                     // +206, +207
    zeros(7);                                         // +208 to +214
    put({65, 2, 2, 3, 0, 85, 0, 15});                 // +215 to +222
    zeros(13);                                        // +223 to +235
    blank(4);                                         // +236 to +239 left alone
    put({0x01, 0x00, 0xF6, 0x01});                    // +240: 1, +242: 502
    blank(2);                                         // +244, +245 left alone
    put({0x00, 0x00, 0xF2, 0x03, 34, 0, 0xF2, 0x03}); // +246: 0, +248: 1010, +250, +251, +252: 1010
    name("Lodestar Grp 1");                           // +254 to +268
    zeros(27);                                        // +269 to +295
    blank(48);                                        // +296 to +343 left alone
    put({7, 0});                                      // +344: seven entries
    const std::uint8_t entries[7][8] = {
        // number, +2, +4, +6, +7 of the even table
        {1, 0, 0, 0, 0, 0, 1, 1}, {2, 0, 0, 0, 207, 0, 1, 0}, {3, 0, 0, 0, 11, 0, 1, 0}, {4, 0, 203, 0, 202, 0, 1, 1},
        {5, 0, 0, 0, 0, 0, 1, 1}, {6, 0, 0, 0, 45, 0, 1, 0},  {7, 0, 0, 0, 0, 0, 1, 1}};
    for (const auto& entry : entries) {
        g.insert(g.end(), entry, entry + 8);
        zeros(8);
    }
    put({0, 0, 0x01, 0x00, 0x00, 0x00, 0, 0, 0}); // +458: 0, +460: 1, +464: 0, +465: 0
    blank(1);                                     // +467 left alone
    put({1, 0x94, 0});                            // +468 to +470
    return g;
}

TEST(DefaultConfigBlock, Variant0MatchesTheGoldenRecord)
{
    const std::vector<std::uint8_t> golden = goldenVariant0();
    ASSERT_EQ(golden.size(), kConfigRecordSize);
    const FirmwareImage image = imageWithBlock(0);
    const auto written = at(image, kRecord, kConfigRecordSize);
    for (std::size_t i = 0; i < kConfigRecordSize; ++i)
        EXPECT_EQ(written[i], golden[i]) << "record byte +" << i;
}

TEST(DefaultConfigBlock, OddVariantsEntryTable)
{
    std::vector<std::uint8_t> expected{7, 0}; // +344: seven entries
    const std::uint8_t entries[7][8] = {      // number, +2, +4, +6, +7
                                        {1, 0, 204, 0, 205, 0, 1, 1}, {2, 0, 203, 0, 202, 0, 1, 0},
                                        {3, 0, 11, 0, 207, 0, 1, 1},  {4, 0, 0, 0, 0, 0, 0, 0},
                                        {9, 0, 0, 0, 0, 0, 0, 0},     {10, 0, 0, 0, 0, 0, 0, 0},
                                        {11, 0, 0, 0, 0, 0, 0, 0}};
    for (const auto& entry : entries) {
        expected.insert(expected.end(), entry, entry + 8);
        expected.insert(expected.end(), 8, 0x00);
    }
    for (const std::uint8_t configVariant : {1, 3, 5, 7})
        EXPECT_EQ(at(imageWithBlock(configVariant), kRecord + 344, 114), expected)
            << "configVariant " << int{configVariant};
}

// Per variant: +33 and every value of the variant-dependent column.
struct VariantCase {
    std::uint8_t configVariant;
    std::uint8_t flags33;
    std::uint32_t frequency; // +140
    std::uint16_t word144;
    std::uint32_t secondFrequency; // +146
    std::uint8_t flags161;
    std::uint16_t word162;
    std::uint8_t byte164;
    std::uint16_t word165;
    std::uint16_t word167;
    std::uint8_t byte169;
    const char* name; // +176
    std::uint8_t byte207;
    std::uint8_t byte215;
    std::uint8_t byte220;
    std::uint8_t flags250;
};

void PrintTo(const VariantCase& c, std::ostream* out)
{
    *out << "configVariant " << int{c.configVariant};
}

class DefaultConfigVariant : public ::testing::TestWithParam<VariantCase> {};

std::uint32_t u32At(const FirmwareImage& image, std::size_t offset)
{
    return image.data()[offset] | image.data()[offset + 1] << 8 | image.data()[offset + 2] << 16 |
           static_cast<std::uint32_t>(image.data()[offset + 3]) << 24;
}

std::uint16_t u16At(const FirmwareImage& image, std::size_t offset)
{
    return static_cast<std::uint16_t>(image.data()[offset] | image.data()[offset + 1] << 8);
}

TEST_P(DefaultConfigVariant, WritesItsColumn)
{
    const VariantCase& c = GetParam();
    const FirmwareImage image = imageWithBlock(c.configVariant);
    EXPECT_EQ(image.data()[kRecord + 33], c.flags33);
    EXPECT_EQ(u32At(image, kRecord + 140), c.frequency);
    EXPECT_EQ(u16At(image, kRecord + 144), c.word144);
    EXPECT_EQ(u32At(image, kRecord + 146), c.secondFrequency);
    EXPECT_EQ(at(image, kRecord + 150, 10), at(image, kRecord + 140, 10));
    EXPECT_EQ(image.data()[kRecord + 161], c.flags161);
    EXPECT_EQ(u16At(image, kRecord + 162), c.word162);
    EXPECT_EQ(image.data()[kRecord + 164], c.byte164);
    EXPECT_EQ(u16At(image, kRecord + 165), c.word165);
    EXPECT_EQ(u16At(image, kRecord + 167), c.word167);
    EXPECT_EQ(image.data()[kRecord + 169], c.byte169);
    EXPECT_EQ(at(image, kRecord + 176, 15), text(c.name));
    EXPECT_EQ(image.data()[kRecord + 207], c.byte207);
    EXPECT_EQ(image.data()[kRecord + 215], c.byte215);
    EXPECT_EQ(image.data()[kRecord + 220], c.byte220);
    EXPECT_EQ(u16At(image, kRecord + 248), c.word167);
    EXPECT_EQ(image.data()[kRecord + 250], c.flags250);
    EXPECT_EQ(u16At(image, kRecord + 252), c.word167);
    // The entry table follows the variant bit.
    EXPECT_EQ(u16At(image, kRecord + 346 + 16 * 4), c.configVariant % 2 ? 9 : 5);
}

INSTANTIATE_TEST_SUITE_P(
    AllVariants, DefaultConfigVariant,
    ::testing::Values(
        VariantCase{0, 12, 463700000, 0, 0, 3, 0xFFFE, 50, 901, 1010, 50, "Deflt Portable", 85, 65, 85, 34},
        VariantCase{1, 12, 463700000, 0, 0, 3, 0xFFFE, 50, 901, 1010, 75, "Lodestar      ", 90, 90, 90, 34},
        VariantCase{2, 8, 220300000, 1, 0, 35, 0xFFFD, 49, 201, 32220, 85, "Deflt Portable", 85, 100, 100, 38},
        VariantCase{3, 12, 220300000, 1, 0, 35, 0xFFFD, 49, 201, 32220, 75, "Deflt   Mobile", 85, 90, 90, 38},
        VariantCase{4, 8, 746018750, 1, 0, 35, 0xFFFE, 51, 701, 1700, 105, "Deflt Portable", 85, 120, 120, 38},
        VariantCase{5, 12, 746018750, 1, 0, 35, 0xFFFE, 51, 701, 1700, 75, "Deflt   Mobile", 85, 90, 90, 38},
        VariantCase{6, 4, 162000000, 0, 161100000, 3, 9898, 98, 501, 62000, 105, "Deflt Portable", 85, 120, 120, 34},
        VariantCase{7, 0, 162000000, 0, 161100000, 3, 9898, 98, 501, 62000, 75, "Lodestar      ", 90, 90, 90, 34}));

// Which record bytes a call writes: those that differ from the fill on an image of 0x00 or
// on an image of 0xFF (a written byte cannot equal both).
std::vector<bool> writtenBytes(std::uint8_t configVariant)
{
    const FirmwareImage zeros = imageWithBlock(configVariant, 0x00);
    const FirmwareImage ones = imageWithBlock(configVariant, 0xFF);
    std::vector<bool> written(kConfigRecordSize);
    for (std::size_t i = 0; i < kConfigRecordSize; ++i)
        written[i] = zeros.data()[kRecord + i] != 0x00 || ones.data()[kRecord + i] != 0xFF;
    return written;
}

class DefaultConfigCoverage : public ::testing::TestWithParam<int> {};

TEST_P(DefaultConfigCoverage, WritesExactlyTheRecordsFieldsAndNothingElse)
{
    const auto configVariant = static_cast<std::uint8_t>(GetParam());
    const bool known = configVariant < 8;
    const std::vector<bool> written = writtenBytes(configVariant);
    EXPECT_EQ(std::count(written.begin(), written.end(), true), known ? 414 : 146);

    const auto untouched = [&](std::size_t first, std::size_t last) {
        for (std::size_t i = first; i <= last; ++i)
            EXPECT_FALSE(written[i]) << "+" << i;
    };
    untouched(14, 15);
    untouched(236, 239);
    untouched(244, 245);
    untouched(296, 343);
    untouched(467, 467);
    if (!known)
        untouched(136, 457);

    // Outside the record nothing changes, the rest of the slot included.
    const FirmwareImage image = imageWithBlock(configVariant);
    EXPECT_TRUE(std::all_of(image.data(), image.data() + kRecord, [](auto b) { return b == 0xFF; }));
    EXPECT_TRUE(std::all_of(image.data() + kRecord + kConfigRecordSize, image.data() + image.size(),
                            [](auto b) { return b == 0xFF; }));
}

INSTANTIATE_TEST_SUITE_P(Variants, DefaultConfigCoverage, ::testing::Values(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 200, 255));

TEST(DefaultConfigBlock, UnknownVariantWritesCommonPartAndTail)
{
    const FirmwareImage image = imageWithBlock(8);
    EXPECT_EQ(image.data()[kRecord + 33], 12);
    EXPECT_EQ(u16At(image, kRecord + 0), 272);
    EXPECT_EQ(u16At(image, kRecord + 134), 392);
    EXPECT_EQ(image.data()[kRecord + 469], 0x94);
    EXPECT_EQ(u32At(image, kRecord + 460), 1u);
}

struct SlotCase {
    int slot;
    std::size_t recordOffset;
};

void PrintTo(const SlotCase& c, std::ostream* out)
{
    *out << "slot " << c.slot;
}

class DefaultConfigSlot : public ::testing::TestWithParam<SlotCase> {};

TEST_P(DefaultConfigSlot, RecordStartsAtItsSlot)
{
    FirmwareImage image;
    writeDefaultConfigBlock(0, static_cast<std::uint8_t>(GetParam().slot), image, kUpgradeConfigSlotBase);
    const std::size_t r = GetParam().recordOffset;
    EXPECT_EQ(u16At(image, r), 272);
    EXPECT_EQ(image.data()[r + 469], 0x94);
    EXPECT_TRUE(std::all_of(image.data(), image.data() + r, [](auto b) { return b == 0xFF; }));
    EXPECT_TRUE(std::all_of(image.data() + r + kConfigRecordSize, image.data() + image.size(),
                            [](auto b) { return b == 0xFF; }));
}

INSTANTIATE_TEST_SUITE_P(Slots, DefaultConfigSlot,
                         ::testing::Values(SlotCase{1, 0x200}, SlotCase{2, 0x600}, SlotCase{8, 0x1E00},
                                           SlotCase{0, 0x1E00}, SlotCase{9, 0x200}));

TEST(DefaultConfigBlock, RecordOutsideTheImageWritesNothing)
{
    const FirmwareImage erased;
    for (const std::uint32_t slotBase : {0x9FFFFu, 0x0u, 0x100000u - 470u, 0xFFFFFFFFu}) {
        FirmwareImage image;
        writeDefaultConfigBlock(0, 1, image, slotBase);
        EXPECT_TRUE(image.bytes().size() == erased.bytes().size() &&
                    std::equal(image.bytes().begin(), image.bytes().end(), erased.bytes().begin()))
            << std::hex << slotBase;
    }
    // The last slot index 7 at the top of the image would end past it.
    FirmwareImage image;
    writeDefaultConfigBlock(0, 8, image, 0x100000u - 7 * 1024 - 470);
    EXPECT_TRUE(std::equal(image.bytes().begin(), image.bytes().end(), erased.bytes().begin()));
}

TEST(DefaultConfigBlock, RecordEndingAtTheImagesLastByteIsWritten)
{
    FirmwareImage image;
    writeDefaultConfigBlock(0, 1, image, 0x100000u - 471);
    EXPECT_EQ(image.data()[image.size() - 2], 0x94);
    EXPECT_EQ(image.data()[image.size() - 1], 0x00);
}

TEST(DefaultConfigBlock, StoresRefuseToReachPastTheImage)
{
    FirmwareImage image;
    EXPECT_THROW(putU8(image, kImageSize, 0), std::out_of_range);
    EXPECT_THROW(putU16Le(image, kImageSize - 1, 0), std::out_of_range);
    EXPECT_THROW(putU32Le(image, kImageSize - 3, 0), std::out_of_range);
    putU32Le(image, kImageSize - 4, 0x04030201);
    EXPECT_EQ(at(image, kImageSize - 4, 4), (std::vector<std::uint8_t>{1, 2, 3, 4}));
}

} // namespace
} // namespace fieldkit::image
