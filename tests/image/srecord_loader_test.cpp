#include "image/srecord_loader.h"

#include "tests/image/test_files.h"

#include <gtest/gtest.h>

#include <ostream>
#ifndef _WIN32
#include <unistd.h>
#endif

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace fieldkit::image {
namespace {

using fieldkit::testing::rawSrecord;
using fieldkit::testing::readFile;
using fieldkit::testing::srecord;
using fieldkit::testing::TempDir;
using fieldkit::testing::writeFile;
namespace fs = std::filesystem;

constexpr std::uint8_t kUnwritten = 0x5A; // what the destination holds before a load
constexpr std::uint8_t kGuard = 0xA5;     // bytes just outside the destination
constexpr std::size_t kGuardSize = 4096;

// A destination of the size the upgrade passes for each file, with guard bytes on both
// sides that no load may touch.
class GuardedDestination {
public:
    explicit GuardedDestination(int bootFileFlag)
        : size_(bootFileFlag == kBootFileFlag ? 0x4000 : 0x60000),
          base_(bootFileFlag == kBootFileFlag ? kBootFileBaseAddress : 0xA0000),
          buffer_(kGuardSize + size_ + kGuardSize, kGuard)
    {
        std::fill_n(buffer_.begin() + kGuardSize, size_, kUnwritten);
    }

    std::span<std::uint8_t> span() { return {buffer_.data() + kGuardSize, size_}; }

    // What a destination holds after placing `stretches`, each at its flash address.
    std::vector<std::uint8_t>
    expected(const std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>& stretches) const
    {
        std::vector<std::uint8_t> bytes(size_, kUnwritten);
        for (const auto& [address, data] : stretches)
            std::copy(data.begin(), data.end(), bytes.begin() + (address - base_));
        return bytes;
    }

    std::vector<std::uint8_t> contents() const
    {
        return {buffer_.begin() + kGuardSize, buffer_.begin() + static_cast<std::ptrdiff_t>(kGuardSize + size_)};
    }

    bool guardsIntact() const
    {
        const auto isGuard = [](std::uint8_t b) { return b == kGuard; };
        return std::all_of(buffer_.begin(), buffer_.begin() + kGuardSize, isGuard) &&
               std::all_of(buffer_.end() - kGuardSize, buffer_.end(), isGuard);
    }

private:
    std::size_t size_;
    std::uint32_t base_;
    std::vector<std::uint8_t> buffer_;
};

std::string lines(std::initializer_list<std::string> records, const char* lineEnd = "\n")
{
    std::string text;
    for (const auto& record : records)
        text += record + lineEnd;
    return text;
}

const std::vector<std::uint8_t> kData{0x11, 0x22, 0x33, 0x44};
const std::vector<std::uint8_t> kEight{1, 2, 3, 4, 5, 6, 7, 8};
const std::string kHeader = srecord(0, 0, {'t', 'e', 's', 't'});
const std::string kEnd = srecord(8, 0);
const std::string kAppRecord = srecord(2, 0xA0100, kData);
const std::string kBootRecord = srecord(2, 0xFC010, kData);

std::string withoutLast(std::string text, std::size_t count)
{
    text.resize(text.size() - count);
    return text;
}

std::string replacedAt(std::string text, std::size_t position, char replacement)
{
    text[position] = replacement;
    return text;
}

std::string withCharacterAt(std::string text, std::size_t position, char inserted)
{
    text.insert(text.begin() + static_cast<std::ptrdiff_t>(position), inserted);
    return text;
}

std::string lowerCased(std::string text)
{
    std::transform(text.begin() + 1, text.end(), text.begin() + 1,
                   [](char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

std::string garbage(std::size_t size)
{
    std::mt19937 random(11);
    std::string bytes(size, '\0');
    for (auto& byte : bytes)
        byte = static_cast<char>(random());
    return bytes;
}

using Stretches = std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>;

struct LoaderCase {
    const char* name;
    int bootFileFlag;
    std::string content;
    bool errors;
    Stretches placed;
    std::optional<std::uint32_t> conflict; // the first address two records disagree on
};

// Most cases hold one good record besides what they test, which must be all that lands.
const Stretches kAppPlaced{{0xA0100, kData}};
const Stretches kBootPlaced{{0xFC010, kData}};

LoaderCase app(const char* name, std::string content, bool errors, Stretches placed = kAppPlaced,
               std::optional<std::uint32_t> conflict = std::nullopt)
{
    return {name, kApplicationFileFlag, std::move(content), errors, std::move(placed), conflict};
}

LoaderCase boot(const char* name, std::string content, bool errors, Stretches placed = kBootPlaced,
                std::optional<std::uint32_t> conflict = std::nullopt)
{
    return {name, kBootFileFlag, std::move(content), errors, std::move(placed), conflict};
}

// A second good record, for the cases to damage.
const std::string kSecondRecord = srecord(2, 0xA0200, kData);
const Stretches kTwoPlaced{{0xA0100, kData}, {0xA0200, kData}};

void PrintTo(const LoaderCase& c, std::ostream* out)
{
    *out << c.name;
}

class SrecordLoaderFile : public ::testing::TestWithParam<LoaderCase> {};

TEST_P(SrecordLoaderFile, PlacesOnlyGoodRecordsInsideTheFilesWindow)
{
    const LoaderCase& c = GetParam();
    TempDir dir;
    writeFile(dir / "firmware.s19", c.content);
    GuardedDestination destination(c.bootFileFlag);

    const SrecordReadResult read = SrecordReadFile(dir / "firmware.s19", destination.span(), c.bootFileFlag);

    EXPECT_EQ(read.result, kSrecordProcessed);
    EXPECT_EQ(read.errors, c.errors) << read.firstError << " at line " << read.firstErrorLine;
    EXPECT_EQ(read.errors, read.errorCount > 0);
    EXPECT_EQ(read.firstConflict, c.conflict);
    EXPECT_TRUE(destination.contents() == destination.expected(c.placed)) << "destination differs";
    EXPECT_TRUE(destination.guardsIntact()) << "a byte outside the destination changed";
    std::size_t placedBytes = 0;
    for (const auto& stretch : c.placed)
        placedBytes += stretch.second.size();
    EXPECT_EQ(read.bytesPlaced, placedBytes);
}

INSTANTIATE_TEST_SUITE_P(
    GoodFiles, SrecordLoaderFile,
    ::testing::Values(
        app("ApplicationS2", lines({kHeader, kAppRecord, srecord(5, 1), kEnd}), false),
        app("ApplicationS3", lines({srecord(3, 0xA0100, kData), srecord(7, 0)}), false),
        boot("BootS2", lines({kBootRecord, srecord(9, 0)}), false),
        app("CrLfLineEnds", lines({kHeader, kAppRecord, kEnd}, "\r\n"), false),
        app("NoLineEndAfterLastRecord", kAppRecord + "\n" + kEnd, false),
        app("LowerCaseHexDigits", lines({lowerCased(kAppRecord), kEnd}), false),
        app("EmptyLinesIgnored", "\n" + kAppRecord + "\n\r\n\n" + kEnd + "\n\n", false),
        app("S6CountRecord", lines({kAppRecord, srecord(6, 1)}), false),
        boot("LastBytesOfBootWindow", lines({srecord(2, 0xFFFFC, kData), kEnd}), false, {{0xFFFFC, kData}}),
        app("LastBytesOfApplicationRegion", lines({srecord(2, 0xEFFFC, kData), kEnd}), false, {{0xEFFFC, kData}}),
        app("LongestRecordWithCrLf", lines({srecord(3, 0xA0000, std::vector<std::uint8_t>(250, 0x3C)), kEnd}, "\r\n"),
            false, {{0xA0000, std::vector<std::uint8_t>(250, 0x3C)}}),
        // What Windows tools leave: blanks at line ends, blank lines, a DOS end-of-file byte.
        app("TrailingSpace", lines({kAppRecord, kSecondRecord + " ", kEnd}), false, kTwoPlaced),
        app("WindowsToolFile", lines({kHeader, kAppRecord + "  ", kSecondRecord + "\t", kEnd + " "}, "\r\n") + "\x1A",
            false, kTwoPlaced),
        app("BlankLines", lines({" \t", kAppRecord, "   ", kEnd}, "\r\n"), false),
        app("EndOfFileByteOnTheLastRecordLine", lines({kAppRecord}) + kEnd + "\x1A", false),
        app("EndOfFileByteThenLineEnds", lines({kAppRecord, kEnd, "\x1A", "", " "}, "\r\n"), false),
        boot("EndOfFileByteAfterBlanks", lines({kBootRecord, kEnd + " \t\x1A\r"}), false),
        // Tools that merge files repeat records; the same bytes again are no fault.
        app("RecordRepeatedWithTheSameBytes", lines({kAppRecord, kAppRecord, srecord(2, 0xA0102, {0x33, 0x44}), kEnd}),
            false, {{0xA0100, kData}, {0xA0100, kData}, {0xA0102, {0x33, 0x44}}}),
        app("LongestRecordPaddedFarPastTheLongestLine",
            lines({srecord(3, 0xA0000, std::vector<std::uint8_t>(250, 0x3C)) + std::string(5000, ' '), kEnd}) + "\x1A",
            false, {{0xA0000, std::vector<std::uint8_t>(250, 0x3C)}})),
    [](const auto& info) { return std::string(info.param.name); });

INSTANTIATE_TEST_SUITE_P(
    BadFiles, SrecordLoaderFile,
    ::testing::Values(
        app("BadRecordChecksum", lines({kAppRecord, replacedAt(kSecondRecord, 17, 'F'), kEnd}), true),
        app("ByteCountTooLarge", lines({kAppRecord, rawSrecord(2, {0x09, 0x0A, 0x02, 0x00, 1, 2, 3, 4}), kEnd}), true),
        app("ByteCountTooSmallForTheAddress", lines({kAppRecord, rawSrecord(2, {0x03, 0x0A, 0x02}), kEnd}), true),
        app("OddNumberOfDigits", lines({kAppRecord, std::string(kSecondRecord).erase(12, 1), kEnd}), true),
        app("NonHexDigit", lines({kAppRecord, replacedAt(kSecondRecord, 11, 'G'), kEnd}), true),
        app("SpaceInsideARecord", lines({kAppRecord, withCharacterAt(kSecondRecord, 10, ' '), kEnd}), true),
        app("LeadingSpace", lines({kAppRecord, " " + kSecondRecord, kEnd}), true),
        app("EndOfFileByteInsideARecord", lines({kAppRecord, replacedAt(kSecondRecord, 10, '\x1A'), kEnd}), true),
        app("RecordAfterTheEndOfFileByte", lines({kAppRecord, kEnd, "\x1A", kSecondRecord}), true),
        app("GarbageAfterTheEndOfFileByte", lines({kAppRecord, kEnd}) + "\x1A\r\nxyz", true),
        app("TwoEndOfFileBytes", lines({kAppRecord, kEnd}) + "\x1A\x1A", true),
        app("CutShortThenEndOfFileByte", lines({kHeader, kAppRecord}, "\r\n") + "\x1A", true),
        app("TruncatedLastLine", kAppRecord + "\n" + withoutLast(srecord(2, 0xA0200, kEight), 7), true),
        app("CutShortAtALineEnd", lines({kHeader, kAppRecord}), true),
        app("ReservedTypeS4", lines({kAppRecord, rawSrecord(4, {0x03, 0x00, 0x00}), kEnd}), true),
        app("TypeNotADigit", lines({kAppRecord, "SX030000FC", kEnd}), true),
        app("LineNotARecord", lines({"hello", kAppRecord, kEnd}), true),
        app("CountRecordDisagrees", lines({kAppRecord, srecord(5, 2), kEnd}), true),
        app("CountRecordWithData", lines({kAppRecord, srecord(5, 1, {0}), kEnd}), true),
        app("EndRecordWithData", lines({kAppRecord, srecord(9, 0, {0})}), true),
        app("RecordAfterTheEndRecord", lines({kAppRecord, kEnd, kSecondRecord}), true),
        app("OverlongLineIsSkipped", lines({"S2" + std::string(5000, 'A'), kAppRecord, kEnd}), true),
        app("OneCharacterTooLong", lines({"S3" + std::string(513, 'F'), kAppRecord, kEnd}), true),
        app("EmptyFile", "", true, {}), app("NoDataRecords", lines({kHeader, srecord(5, 0), kEnd}), true, {}),
        app("BinaryGarbage", garbage(20000), true, {}),
        boot("BootBelowItsWindow", lines({kBootRecord, srecord(2, 0xFBFFC, kEight), kEnd}), true),
        boot("BootAboveItsWindow", lines({kBootRecord, srecord(3, 0x100000, kData), kEnd}), true),
        boot("BootStraddlesItsEnd", lines({kBootRecord, srecord(2, 0xFFFFC, kEight), kEnd}), true),
        boot("BootAtApplicationAddress", lines({kBootRecord, kAppRecord, kEnd}), true),
        app("ApplicationBelowFlashBase", lines({kAppRecord, srecord(2, 0x9FFFC, kEight), kEnd}), true),
        app("ApplicationStraddlesRegionEnd", lines({kAppRecord, srecord(2, 0xEFFFC, kEight), kEnd}), true),
        app("ApplicationInTheUnusedArea", lines({kAppRecord, srecord(2, 0xF0000, kData), kEnd}), true),
        app("ApplicationOverTheBootCode", lines({kAppRecord, kBootRecord, kEnd}), true),
        app("ApplicationSixteenBitAddress", lines({kAppRecord, srecord(1, 0x0100, kData), kEnd}), true),
        app("ApplicationAtTopOfAddressSpace", lines({kAppRecord, srecord(3, 0xFFFFFFFE, kData), kEnd}), true),
        // Two records that give one address different bytes: the later is placed, and the
        // first address they disagree on is named.
        app("RecordsDisagree", lines({kAppRecord, srecord(2, 0xA0102, {0x33, 0x45}), kEnd}), true,
            {{0xA0100, kData}, {0xA0102, {0x33, 0x45}}}, 0xA0103),
        boot("BootRecordsDisagree", lines({kBootRecord, srecord(2, 0xFC00E, {0, 0, 0x10}), srecord(2, 0xFC011, {9}), kEnd}),
             true, {{0xFC010, kData}, {0xFC00E, {0, 0, 0x10}}, {0xFC011, {9}}}, 0xFC010)),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SrecordLoader, ReportsTheFirstBadLine)
{
    TempDir dir;
    writeFile(dir / "f.s19", lines({kAppRecord, "junk", kEnd, "junk"}));
    GuardedDestination destination(kApplicationFileFlag);
    const SrecordReadResult read = SrecordReadFile(dir / "f.s19", destination.span(), kApplicationFileFlag);
    EXPECT_EQ(read.firstErrorLine, 2u);
    EXPECT_EQ(read.errorCount, 2u);
    EXPECT_EQ(read.dataRecords, 1u);
}

TEST(SrecordLoader, WindowIsCutToASmallerDestination)
{
    TempDir dir;
    writeFile(dir / "f.s19", lines({srecord(2, 0xA0010, kData), kEnd}));
    std::vector<std::uint8_t> small(0x10, kUnwritten);
    const SrecordReadResult read = readSrecordFile(dir / "f.s19", small, kApplicationFileWindow);
    EXPECT_TRUE(read.errors);
    EXPECT_EQ(read.bytesPlaced, 0u);
}

struct UnreadableCase {
    const char* name;
    std::function<fs::path(const TempDir&)> makePath;
    int result;
};

void PrintTo(const UnreadableCase& c, std::ostream* out)
{
    *out << c.name;
}

class SrecordLoaderUnreadable : public ::testing::TestWithParam<UnreadableCase> {};

TEST_P(SrecordLoaderUnreadable, IsNotProcessedAndLeavesTheDestinationAlone)
{
    TempDir dir;
    const fs::path path = GetParam().makePath(dir);
    GuardedDestination destination(kApplicationFileFlag);
    const std::vector<std::uint8_t> before = destination.contents();

    const SrecordReadResult load = SrecordReadFile(path, destination.span(), kApplicationFileFlag);

    EXPECT_EQ(load.result, GetParam().result);
    EXPECT_TRUE(load.errors);
    EXPECT_TRUE(destination.contents() == before);
    EXPECT_TRUE(destination.guardsIntact());
}

const UnreadableCase kUnreadableCases[] = {
    {"Missing", [](const TempDir& d) { return d / "corvo_fwapp.s19"; }, kSrecordCannotOpen},
    {"Directory",
     [](const TempDir& d) {
         fs::create_directory(d / "corvo_fwapp.s19");
         return d / "corvo_fwapp.s19";
     },
     kSrecordNotAFile},
#ifndef _WIN32 // Windows devices have no path in the file system
    {"Device", [](const TempDir&) { return fs::path("/dev/null"); }, kSrecordNotAFile},
#endif
    // Refused even to root: a path that goes on through a regular file.
    {"PathThroughAFile",
     [](const TempDir& d) {
         writeFile(d / "plain", lines({kAppRecord, kEnd}));
         return d / "plain" / "corvo_fwapp.s19";
     },
     kSrecordCannotOpen},
#ifndef _WIN32 // symbolic links need a privilege on Windows
    {"DanglingLink",
     [](const TempDir& d) {
         fs::create_symlink(d / "gone", d / "corvo_fwapp.s19");
         return d / "corvo_fwapp.s19";
     },
     kSrecordCannotOpen},
#endif
};

INSTANTIATE_TEST_SUITE_P(
    Paths, SrecordLoaderUnreadable, ::testing::ValuesIn(kUnreadableCases),
    [](const auto& info) { return std::string(info.param.name); });

#ifndef _WIN32 // POSIX permissions
TEST(SrecordLoader, FileWithoutReadPermissionIsNotProcessed)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root reads any file; PathThroughAFile covers an unopenable path";
    TempDir dir;
    writeFile(dir / "locked.s19", lines({kAppRecord, kEnd}));
    fs::permissions(dir / "locked.s19", fs::perms::none);
    GuardedDestination destination(kApplicationFileFlag);
    const SrecordReadResult load = SrecordReadFile(dir / "locked.s19", destination.span(), kApplicationFileFlag);
    EXPECT_EQ(load.result, kSrecordCannotOpen);
    EXPECT_TRUE(destination.contents() == destination.expected({}));
}
#endif

TEST(SrecordLoader, UnknownFileFlagIsNotProcessed)
{
    TempDir dir;
    writeFile(dir / "f.s19", lines({kAppRecord, kEnd}));
    GuardedDestination destination(kApplicationFileFlag);
    const SrecordReadResult load = SrecordReadFile(dir / "f.s19", destination.span(), 2);
    EXPECT_EQ(load.result, kSrecordBadFileFlag);
    EXPECT_TRUE(destination.contents() == destination.expected({}));
}

// Huge files: no crash, the line buffer is all the memory a line gets.
TEST(SrecordLoader, MegabytesOfGarbageWithoutALineEndAreOneBadLine)
{
    TempDir dir;
    writeFile(dir / "f.s19", std::string(8 << 20, 'A'));
    GuardedDestination destination(kApplicationFileFlag);
    const SrecordReadResult read = SrecordReadFile(dir / "f.s19", destination.span(), kApplicationFileFlag);
    EXPECT_EQ(read.result, kSrecordProcessed);
    EXPECT_TRUE(read.errors);
    EXPECT_EQ(read.firstErrorLine, 1u);
    EXPECT_EQ(read.bytesPlaced, 0u);
    EXPECT_TRUE(destination.contents() == destination.expected({}));
}

TEST(SrecordLoader, MegabytesOfRecordsAreAllPlaced)
{
    TempDir dir;
    std::string text;
    const std::vector<std::uint8_t> data(32, 0x77);
    constexpr std::size_t kRecords = 60'000; // more than the region holds, so addresses repeat
    for (std::size_t i = 0; i < kRecords; ++i)
        text += srecord(2, static_cast<std::uint32_t>(0xA0000 + (i * 32) % 0x50000), data) + "\r\n";
    text += srecord(8, 0) + "\r\n";
    writeFile(dir / "f.s19", text);
    GuardedDestination destination(kApplicationFileFlag);

    const SrecordReadResult read = SrecordReadFile(dir / "f.s19", destination.span(), kApplicationFileFlag);

    EXPECT_FALSE(read.errors) << read.firstError;
    EXPECT_EQ(read.dataRecords, kRecords);
    EXPECT_EQ(read.bytesPlaced, kRecords * 32);
    EXPECT_TRUE(destination.contents() == destination.expected({{0xA0000, std::vector<std::uint8_t>(0x50000, 0x77)}}));
}

#ifndef _WIN32 // srec_cat is run by a POSIX shell
// The same bytes through srec_cat, the reference converter, in each address width.
struct CrossCheckCase {
    const char* name;
    int addressLength; // srec_cat's -address-length: 2 for S1, 3 for S2, 4 for S3
    std::uint32_t flashAddress;
    std::size_t size;
    std::optional<int> bootFileFlag; // absent: read through a plain 64 KB window from address 0
};

void PrintTo(const CrossCheckCase& c, std::ostream* out)
{
    *out << c.name;
}

class SrecordLoaderCrossCheck : public ::testing::TestWithParam<CrossCheckCase> {};

TEST_P(SrecordLoaderCrossCheck, ReadsWhatSrecCatWrote)
{
    const CrossCheckCase& c = GetParam();
    const std::string srecCat = FIELDKIT_SREC_CAT;
    ASSERT_FALSE(srecCat.empty()) << "srec_cat was not found when the build was configured (Debian package srecord)";

    TempDir dir;
    std::mt19937 random(static_cast<unsigned>(c.size + c.addressLength));
    std::vector<std::uint8_t> binary(c.size);
    for (auto& byte : binary)
        byte = static_cast<std::uint8_t>(random());
    writeFile(dir / "in.bin", std::string(binary.begin(), binary.end()));

    // Two holes the file leaves out, so untouched bytes can be told from placed ones.
    constexpr std::size_t kHole1 = 0x100, kHole1End = 0x1A3, kHole2 = 0x2F01, kHole2End = 0x3000;
    char arguments[512];
    std::snprintf(
        arguments, sizeof arguments,
        " -binary -exclude 0x%zX 0x%zX -exclude 0x%zX 0x%zX -offset 0x%X -o '%s' -motorola -address-length=%d", kHole1,
        kHole1End, kHole2, kHole2End, c.flashAddress, (dir / "out.s19").c_str(), c.addressLength);
    const std::string command = "'" + srecCat + "' '" + (dir / "in.bin").string() + "'" + arguments;
    ASSERT_EQ(std::system(command.c_str()), 0) << command;

    std::vector<std::uint8_t> destination(c.bootFileFlag == kApplicationFileFlag ? 0x60000 : c.size, kUnwritten);
    const SrecordReadResult read =
        c.bootFileFlag ? SrecordReadFile(dir / "out.s19", destination, *c.bootFileFlag)
                       : readSrecordFile(dir / "out.s19", destination, AddressWindow{c.flashAddress, c.size});

    ASSERT_EQ(read.result, kSrecordProcessed);
    EXPECT_FALSE(read.errors) << read.firstError << " at line " << read.firstErrorLine;
    std::vector<std::uint8_t> expected = binary;
    std::fill(expected.begin() + kHole1, expected.begin() + kHole1End, kUnwritten);
    std::fill(expected.begin() + kHole2, expected.begin() + kHole2End, kUnwritten);
    expected.resize(destination.size(), kUnwritten);
    EXPECT_TRUE(destination == expected);
    EXPECT_EQ(read.bytesPlaced, c.size - (kHole1End - kHole1) - (kHole2End - kHole2));
}

INSTANTIATE_TEST_SUITE_P(AddressWidths, SrecordLoaderCrossCheck,
                         ::testing::Values(CrossCheckCase{"S1LowMemory", 2, 0x0000, 0x10000, std::nullopt},
                                           CrossCheckCase{"S2Application", 3, 0xA0000, 0x50000, kApplicationFileFlag},
                                           CrossCheckCase{"S3Application", 4, 0xA0000, 0x50000, kApplicationFileFlag},
                                           CrossCheckCase{"S2Boot", 3, 0xFC000, 0x4000, kBootFileFlag},
                                           CrossCheckCase{"S3Boot", 4, 0xFC000, 0x4000, kBootFileFlag}),
                         [](const auto& info) { return std::string(info.param.name); });

#endif

} // namespace
} // namespace fieldkit::image
