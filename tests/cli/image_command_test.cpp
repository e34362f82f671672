// fieldkit-cli image run as a process in a scratch copy of the demo directory.

#include "image/config_block.h"
#include "image/firmware_files.h"
#include "image/firmware_image.h"
#include "image/parameter_trailer.h"
#include "tests/image/test_files.h"
#include "tests/support/scripted_prompts.h"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace fieldkit::cli {
namespace {

namespace fs = std::filesystem;
using fieldkit::testing::readFile;
using fieldkit::testing::TempDir;
using fieldkit::testing::writeFile;

struct CliRun {
    int status;
    std::string out;
    std::string err;
};

class ImageCommand : public ::testing::Test {
protected:
    ImageCommand()
    {
        for (const char* name : {"corvo_boot.s19", "corvo_fwapp.s19", "AppConfig.ini", "Info.txt"})
            fs::copy_file(fs::path(FIELDKIT_EXAMPLES_DIR) / name, dir / name);
    }

    CliRun run(const std::string& arguments, const std::string& input = "")
    {
        writeFile(dir / "stdin.txt", input);
        const std::string command = "cd '" + dir.path().string() + "' && '" FIELDKIT_CLI "' " + arguments +
                                    " < stdin.txt > stdout.txt 2> stderr.txt";
        const int raw = std::system(command.c_str());
        const auto text = [this](const char* name) {
            const auto bytes = readFile(dir / name);
            return std::string(bytes.begin(), bytes.end());
        };
        return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, text("stdout.txt"), text("stderr.txt")};
    }

    std::vector<std::uint8_t> output() const { return readFile(dir / "image.bin"); }

    TempDir dir;
};

std::vector<std::uint8_t> slice(const std::vector<std::uint8_t>& bytes, std::size_t offset, std::size_t count)
{
    return {bytes.begin() + static_cast<std::ptrdiff_t>(offset),
            bytes.begin() + static_cast<std::ptrdiff_t>(offset + count)};
}

TEST_F(ImageCommand, WritesTheImageAnUpgradeWouldBuild)
{
    const CliRun result = run("image --out image.bin");
    ASSERT_EQ(result.status, 0) << result.err;
    const std::vector<std::uint8_t> written = output();
    ASSERT_EQ(written.size(), 0x60000u);

    // The same steps through the library: unreadable identity block, ESN 0.
    image::FirmwareImage expected;
    fieldkit::testing::ScriptedPrompts prompts;
    ASSERT_EQ(image::loadFirmwareFiles(expected, prompts, dir.path()), image::LoadOutcome::GoOn);
    image::writeDefaultConfigBlock(0, 1, expected, 0xA0200);
    image::writeImageHeader(expected);
    image::BoardParameterTrailer trailer;
    trailer.fillFromEsn(0);
    trailer.storeInImage(expected);
    EXPECT_TRUE(std::equal(written.begin(), written.end(), expected.bytes().begin()));

    EXPECT_EQ(slice(written, 0, 4), (std::vector<std::uint8_t>{0x01, 0x00, 0x50, 0x10}));
    EXPECT_EQ(slice(written, 6, 6), std::vector<std::uint8_t>(6, 0xFF));
    char headerLine[40];
    std::snprintf(headerLine, sizeof headerLine, "header checksum: 0x%02X%02X\n", written[5], written[4]);
    EXPECT_NE(result.out.find("configVariant: 0\n"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(headerLine), std::string::npos) << result.out;
    EXPECT_NE(result.out.find("non-blank pages: "), std::string::npos) << result.out;
    EXPECT_FALSE(fs::exists(dir / "image.bin.new"));
}

TEST_F(ImageCommand, IdentityAndParameterBlockShapeTheImage)
{
    std::string block;
    for (int i = 0; i < 52; ++i) {
        block += 'C';
        block += "0123456789ABCDEF"[i % 16];
    }
    const CliRun result = run("image --out image.bin --band-edge 746000000 --variant-flag 0x80 --param-block " + block);
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("configVariant: 5\n"), std::string::npos) << result.out;
    const auto written = output();
    EXPECT_EQ(written[0x221], 12);                                                            // +33 of variant 5
    EXPECT_EQ(slice(written, 0x28C, 4), (std::vector<std::uint8_t>{0xBE, 0x57, 0x77, 0x2C})); // 746018750 Hz
    EXPECT_EQ(slice(written, 0x2B0, 14),
              (std::vector<std::uint8_t>{'D', 'e', 'f', 'l', 't', ' ', ' ', ' ', 'M', 'o', 'b', 'i', 'l', 'e'}));
    EXPECT_EQ(slice(written, 0x5FF00, 4), (std::vector<std::uint8_t>{0xC0, 0xC1, 0xC2, 0xC3}));
    EXPECT_EQ(written[0x5FF17], 0xC7);
    EXPECT_NE(written[0x5FF18], 0xC8); // block byte 24 on is not copied
}

TEST_F(ImageCommand, EsnFallbackFillsTheTrailer)
{
    ASSERT_EQ(run("image --out image.bin --esn 0x12345678").status, 0);
    EXPECT_EQ(slice(output(), 0x5FF00, 16),
              (std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12, 0x87, 0xA9, 0xCB, 0xED, 0x0C, 0x00, 0x08, 0x0B, 0x0D,
                                         0x0D, 0x1F, 0x04}));
}

TEST_F(ImageCommand, UnknownBandEdgeIsBandZero)
{
    const CliRun result = run("image --out image.bin --band-edge 0x1805A4C1 --variant-flag 1");
    ASSERT_EQ(result.status, 0) << result.err;
    EXPECT_NE(result.out.find("configVariant: 1\n"), std::string::npos) << result.out;
}

TEST_F(ImageCommand, ReplacesAnExistingOutputFile)
{
    writeFile(dir / "image.bin", "old");
    ASSERT_EQ(run("image --out image.bin").status, 0);
    EXPECT_EQ(output().size(), 0x60000u);
}

enum class Setup { Examples, NoBootFile, NoApplicationFile, BadApplicationFile };

struct ExitCase {
    const char* name;
    Setup setup;
    std::string arguments;
    std::string input;
    int status;
    std::string inStderr; // part of what stderr must show
};

void PrintTo(const ExitCase& c, std::ostream* out)
{
    *out << c.name;
}

class ImageCommandExit : public ImageCommand, public ::testing::WithParamInterface<ExitCase> {};

TEST_P(ImageCommandExit, StatusAndMessage)
{
    const ExitCase& c = GetParam();
    switch (c.setup) {
    case Setup::Examples: break;
    case Setup::NoBootFile: fs::remove(dir / "corvo_boot.s19"); break;
    case Setup::NoApplicationFile: fs::remove(dir / "corvo_fwapp.s19"); break;
    case Setup::BadApplicationFile: writeFile(dir / "corvo_fwapp.s19", "S2 not a record\n"); break;
    }
    const CliRun result = run(c.arguments, c.input);
    EXPECT_EQ(result.status, c.status) << result.err;
    EXPECT_NE(result.err.find(c.inStderr), std::string::npos) << result.err;
    EXPECT_EQ(fs::exists(dir / "image.bin"), c.status == 0);
    EXPECT_FALSE(fs::exists(dir / "image.bin.new"));
}

// The question, then the first fault the loader found, then the answer.
const std::string kApplicationQuestion =
    "Question:\nThe application code file (corvo_fwapp.s19) seems to contain errors.\n\nIt is suggested not to write "
    "it to the radio.\nWriting it might render the radio unusable.\n\nWould you like to proceed anyway?\n"
    "Hint: corvo_fwapp.s19 line 1: ";

INSTANTIATE_TEST_SUITE_P(
    Cases, ImageCommandExit,
    ::testing::Values(
        ExitCase{"MissingBootFile", Setup::NoBootFile, "image --out image.bin", "", 1,
                 "Error:\nFailed to process boot code file\n"},
        ExitCase{"MissingApplicationFile", Setup::NoApplicationFile, "image --out image.bin", "", 1,
                 "Error:\nFailed to process application code file\n"},
        ExitCase{"AnswerNo", Setup::BadApplicationFile, "image --out image.bin", "n\n", 3, kApplicationQuestion},
        ExitCase{"EndOfInputIsNo", Setup::BadApplicationFile, "image --out image.bin", "", 3, kApplicationQuestion},
        ExitCase{"AnswerYes", Setup::BadApplicationFile, "image --out image.bin", "yes\n", 0, kApplicationQuestion},
        // --yes does not answer a question that warns of damage; --force does, after printing it.
        ExitCase{"AssumeYesRefusesADamagedFile", Setup::BadApplicationFile, "image --out image.bin --yes", "y\n", 3,
                 "[y/N] n (--yes)\nHint: --yes answers only"},
        ExitCase{"ForceWritesADamagedFile", Setup::BadApplicationFile, "image --out image.bin --force", "n\n", 0,
                 kApplicationQuestion},
        ExitCase{"UnwritableOutput", Setup::Examples, "image --out missing/image.bin", "", 1, "missing/image.bin"},
        ExitCase{"NoCommand", Setup::Examples, "", "", 2, ""},
        ExitCase{"UnknownCommand", Setup::Examples, "flash --out image.bin", "", 2, ""},
        ExitCase{"NoOutputFile", Setup::Examples, "image", "", 2, "--out"},
        ExitCase{"UnknownOption", Setup::Examples, "image --out image.bin --fast", "", 2, "--fast"},
        ExitCase{"EsnNotANumber", Setup::Examples, "image --out image.bin --esn 12x", "", 2, "--esn"},
        ExitCase{"EsnTooLarge", Setup::Examples, "image --out image.bin --esn 0x100000000", "", 2, "--esn"},
        ExitCase{"BandEdgeNotANumber", Setup::Examples, "image --out image.bin --band-edge 403MHz", "", 2,
                 "--band-edge"},
        ExitCase{"VariantFlagTooLarge", Setup::Examples, "image --out image.bin --band-edge 1 --variant-flag 256", "",
                 2, "--variant-flag"},
        ExitCase{"VariantFlagWithoutBandEdge", Setup::Examples, "image --out image.bin --variant-flag 1", "", 2,
                 "--band-edge"},
        ExitCase{"ParameterBlockTooShort", Setup::Examples,
                 "image --out image.bin --param-block " + std::string(46, 'A'), "", 2, "--param-block"},
        ExitCase{"ParameterBlockNotHex", Setup::Examples,
                 "image --out image.bin --param-block " + std::string(47, 'A') + "G", "", 2, "--param-block"},
        ExitCase{"EsnAndParameterBlock", Setup::Examples,
                 "image --out image.bin --esn 1 --param-block " + std::string(48, 'A'), "", 2, "--esn"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fieldkit::cli
