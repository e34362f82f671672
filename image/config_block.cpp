#include "image/config_block.h"

#include <array>
#include <stdexcept>
#include <string_view>

namespace fieldkit::image {

namespace {

constexpr std::size_t kConfigTextLength = 14;

// What varies with configVariant in the record's variant part.
struct VariantValues {
    std::uint32_t frequencyHz;       // +140, repeated at +150
    std::uint16_t word144;           // +144, repeated at +154
    std::uint32_t secondFrequencyHz; // +146, repeated at +156
    std::uint8_t flags161;
    std::uint16_t word162;
    std::uint8_t byte164;
    std::uint16_t word165;
    std::uint16_t word167; // repeated at +248 and +252
    std::uint8_t byte169;
    std::string_view configName; // +176
    std::uint8_t byte207;
    std::uint8_t byte215;
    std::uint8_t byte220;
    std::uint8_t flags250;
};

// Band 0 to 3 with variant bit 0 and 1. Bands 1 and 2 add bit 5 to +161 and bit 2 to +250;
// 0xFFFE and 0xFFFD are -2 and -3.
constexpr std::array<VariantValues, kConfigVariantCount> kVariants{{
    {463700000, 0, 0, 3, 0xFFFE, 50, 901, 1010, 50, "Deflt Portable", 85, 65, 85, 34},
    {463700000, 0, 0, 3, 0xFFFE, 50, 901, 1010, 75, "Lodestar      ", 90, 90, 90, 34},
    {220300000, 1, 0, 35, 0xFFFD, 49, 201, 32220, 85, "Deflt Portable", 85, 100, 100, 38},
    {220300000, 1, 0, 35, 0xFFFD, 49, 201, 32220, 75, "Deflt   Mobile", 85, 90, 90, 38},
    {746018750, 1, 0, 35, 0xFFFE, 51, 701, 1700, 105, "Deflt Portable", 85, 120, 120, 38},
    {746018750, 1, 0, 35, 0xFFFE, 51, 701, 1700, 75, "Deflt   Mobile", 85, 90, 90, 38},
    {162000000, 0, 161100000, 3, 9898, 98, 501, 62000, 105, "Deflt Portable", 85, 120, 120, 34},
    {162000000, 0, 161100000, 3, 9898, 98, 501, 62000, 75, "Lodestar      ", 90, 90, 90, 34},
}};

constexpr bool allNamesFit()
{
    for (const VariantValues& variant : kVariants)
        if (variant.configName.size() != kConfigTextLength)
            return false;
    return true;
}
static_assert(allNamesFit(), "every configuration name is 14 characters");

constexpr std::string_view kGroupName = "Lodestar Grp 1";
static_assert(kGroupName.size() == kConfigTextLength);

struct Entry {
    std::uint16_t number;
    std::uint16_t word2;
    std::uint16_t word4;
    std::uint8_t byte6;
    std::uint8_t byte7;
};
constexpr std::size_t kEntryCount = 7;
constexpr std::size_t kEntryTableOffset = 344;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kEntryPaddingOffset = 8;

// The entry table depends only on the variant bit, that is on whether configVariant is odd.
constexpr std::array<Entry, kEntryCount> kEvenEntries{{
    {1, 0, 0, 1, 1},
    {2, 0, 207, 1, 0},
    {3, 0, 11, 1, 0},
    {4, 203, 202, 1, 1},
    {5, 0, 0, 1, 1},
    {6, 0, 45, 1, 0},
    {7, 0, 0, 1, 1},
}};
constexpr std::array<Entry, kEntryCount> kOddEntries{{
    {1, 204, 205, 1, 1},
    {2, 203, 202, 1, 0},
    {3, 11, 207, 1, 1},
    {4, 0, 0, 0, 0},
    {9, 0, 0, 0, 0},
    {10, 0, 0, 0, 0},
    {11, 0, 0, 0, 0},
}};

void putZeros(FirmwareImage& image, std::size_t offset, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i)
        putU8(image, offset + i, 0);
}

// 14 characters and the NUL that ends them.
void putText(FirmwareImage& image, std::size_t offset, std::string_view text)
{
    for (std::size_t i = 0; i < text.size(); ++i)
        putU8(image, offset + i, static_cast<std::uint8_t>(text[i]));
    putU8(image, offset + text.size(), 0);
}

// Byte +33: bit 2 is clear for configVariant 2, 4 and 7, bit 3 for 6 and 7; values outside
// 0 to 7 have both set.
std::uint8_t flags33(std::uint8_t configVariant)
{
    constexpr std::uint8_t kBit2 = 0x04;
    constexpr std::uint8_t kBit3 = 0x08;
    std::uint8_t flags = 0;
    if (configVariant != 2 && configVariant != 4 && configVariant != 7)
        flags |= kBit2;
    if (configVariant != 6 && configVariant != 7)
        flags |= kBit3;
    return flags;
}

// The common part, +0 to +135: the same for every board but the flags at +33. +14 and +15
// are left alone.
void writeCommonPart(FirmwareImage& image, std::size_t r, std::uint8_t configVariant)
{
    putU16Le(image, r + 0, 272);
    putU16Le(image, r + 2, 600);
    putU16Le(image, r + 4, 714);
    putU16Le(image, r + 6, 372);
    putU16Le(image, r + 8, 716);
    putU16Le(image, r + 10, 388);
    putU16Le(image, r + 12, 724);
    putU16Le(image, r + 16, 26505);
    putU16Le(image, r + 18, 0);
    putU8(image, r + 20, 0);
    putU8(image, r + 21, 0);
    putU16Le(image, r + 22, 0);
    putU16Le(image, r + 24, 0);
    putU8(image, r + 26, 0);
    putU8(image, r + 27, 0);
    putU8(image, r + 28, 10);
    putU8(image, r + 29, 10);
    putZeros(image, r + 30, 3);
    putU8(image, r + 33, flags33(configVariant));
    putZeros(image, r + 34, 3);
    putZeros(image, r + 37, 66);
    putU8(image, r + 103, 2);
    putU8(image, r + 104, 8);
    putZeros(image, r + 105, 8);
    putU8(image, r + 113, 20);
    putU8(image, r + 114, 0);
    putU8(image, r + 115, 0);
    putU8(image, r + 116, 1);
    putU8(image, r + 117, 32);
    putZeros(image, r + 118, 14);
    putU16Le(image, r + 132, 1);
    putU16Le(image, r + 134, 392);
}

// The variant part, +136 to +295: values every variant shares and those of kVariants for
// one of the eight. +236 to +239, +244, +245 and +296 to +343 are left alone.
void writeVariantPart(FirmwareImage& image, std::size_t r, const VariantValues& v)
{
    putU16Le(image, r + 136, 496);
    putU16Le(image, r + 138, 1);
    // +150 to +159 repeat +140 to +149 byte for byte.
    for (const std::size_t copy : {std::size_t{140}, std::size_t{150}}) {
        putU32Le(image, r + copy, v.frequencyHz);
        putU16Le(image, r + copy + 4, v.word144);
        putU32Le(image, r + copy + 6, v.secondFrequencyHz);
    }
    putU8(image, r + 160, 0xF8);
    putU8(image, r + 161, v.flags161);
    putU16Le(image, r + 162, v.word162);
    putU8(image, r + 164, v.byte164);
    putU16Le(image, r + 165, v.word165);
    putU16Le(image, r + 167, v.word167);
    putU8(image, r + 169, v.byte169);
    putU8(image, r + 170, 30);
    putU8(image, r + 171, 10);
    putU8(image, r + 172, 20);
    putU8(image, r + 173, 0);
    putU8(image, r + 174, 3);
    putU8(image, r + 175, 8);
    putText(image, r + 176, v.configName);
    putU8(image, r + 191, 10);
    putU8(image, r + 192, 0);
    putU8(image, r + 193, 0);
    putU8(image, r + 194, 2);
    putU8(image, r + 195, 2);
    putU8(image, r + 196, 5);
    putU8(image, r + 197, 0);
    putU8(image, r + 198, 5);
    putU8(image, r + 199, 0);
    putZeros(image, r + 200, 3);
    putU8(image, r + 203, 0x40);
    putU8(image, r + 204, 0x39);
    putU8(image, r + 205, 0);
    putU8(image, r + 206, 0);
    putU8(image, r + 207, v.byte207);
    putZeros(image, r + 208, 7);
    putU8(image, r + 215, v.byte215);
    putU8(image, r + 216, 2);
    putU8(image, r + 217, 2);
    putU8(image, r + 218, 3);
    putU8(image, r + 219, 0);
    putU8(image, r + 220, v.byte220);
    putU8(image, r + 221, 0);
    putU8(image, r + 222, 15);
    putZeros(image, r + 223, 13);
    putU16Le(image, r + 240, 1);
    putU16Le(image, r + 242, 502);
    putU16Le(image, r + 246, 0);
    putU16Le(image, r + 248, v.word167);
    putU8(image, r + 250, v.flags250);
    putU8(image, r + 251, 0);
    putU16Le(image, r + 252, v.word167);
    putText(image, r + 254, kGroupName);
    putZeros(image, r + 269, 27);
}

// The entry table, +344 to +457: the number of entries, then seven entries of 16 bytes.
void writeEntryTable(FirmwareImage& image, std::size_t r, const std::array<Entry, kEntryCount>& entries)
{
    putU16Le(image, r + kEntryTableOffset, kEntryCount);
    for (std::size_t i = 0; i < kEntryCount; ++i) {
        const std::size_t e = r + kEntryTableOffset + 2 + kEntrySize * i;
        putU16Le(image, e + 0, entries[i].number);
        putU16Le(image, e + 2, entries[i].word2);
        putU16Le(image, e + 4, entries[i].word4);
        putU8(image, e + 6, entries[i].byte6);
        putU8(image, e + 7, entries[i].byte7);
        putZeros(image, e + kEntryPaddingOffset, kEntrySize - kEntryPaddingOffset);
    }
}

// The tail, +458 to +470, +467 left alone: the same for every board.
void writeTail(FirmwareImage& image, std::size_t r)
{
    putU16Le(image, r + 458, 0);
    putU32Le(image, r + 460, 1);
    putU8(image, r + 464, 0);
    putU16Le(image, r + 465, 0);
    putU8(image, r + 468, 1);
    putU8(image, r + 469, 0x94);
    putU8(image, r + 470, 0);
}

void checkInside(const FirmwareImage& image, std::size_t offset, std::size_t width)
{
    if (offset > image.size() || width > image.size() - offset)
        throw std::out_of_range("store outside the firmware image");
}

} // namespace

void putU8(FirmwareImage& image, std::size_t offset, std::uint8_t value)
{
    checkInside(image, offset, 1);
    image.data()[offset] = value;
}

void putU16Le(FirmwareImage& image, std::size_t offset, std::uint16_t value)
{
    checkInside(image, offset, 2);
    image.data()[offset] = static_cast<std::uint8_t>(value);
    image.data()[offset + 1] = static_cast<std::uint8_t>(value >> 8);
}

void putU32Le(FirmwareImage& image, std::size_t offset, std::uint32_t value)
{
    checkInside(image, offset, 4);
    for (std::size_t i = 0; i < 4; ++i)
        image.data()[offset + i] = static_cast<std::uint8_t>(value >> (8 * i));
}

void writeDefaultConfigBlock(std::uint8_t configVariant, std::uint8_t slot, FirmwareImage& image,
                             std::uint32_t slotBase)
{
    if (slotBase < kFlashBase)
        return;
    // Slot numbers count from 1; the unsigned wrap makes slot 0 the last slot.
    const std::size_t slotIndex = static_cast<std::uint8_t>(slot - 1) % kConfigSlotCount;
    const std::size_t r = std::size_t{slotBase - kFlashBase} + slotIndex * kConfigSlotSize;
    if (r + kConfigRecordSize > image.size())
        return;

    writeCommonPart(image, r, configVariant);
    if (configVariant < kConfigVariantCount) {
        writeVariantPart(image, r, kVariants[configVariant]);
        writeEntryTable(image, r, configVariant % 2 == 0 ? kEvenEntries : kOddEntries);
    }
    writeTail(image, r);
}

} // namespace fieldkit::image
