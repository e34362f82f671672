#include "image/firmware_files.h"

#include "image/srecord_loader.h"
#include "tests/image/test_files.h"
#include "tests/support/scripted_prompts.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <sstream>

namespace fieldkit::image {
namespace {

using fieldkit::testing::ScriptedPrompts;
using fieldkit::testing::srecord;
using fieldkit::testing::TempDir;
using fieldkit::testing::writeFile;
using Kind = ScriptedPrompts::Kind;

const std::string kBootQuestion =
    "The boot code file (corvo_boot.s19) seems to contain errors.\n\nIt is suggested not to write it to the radio.\n"
    "Doing so might render the radio unusable.\n\nWould you like to proceed anyway?";
const std::string kApplicationQuestion =
    "The application code file (corvo_fwapp.s19) seems to contain errors.\n\nIt is suggested not to write it to the "
    "radio.\nWriting it might render the radio unusable.\n\nWould you like to proceed anyway?";

const std::string kGoodBoot = srecord(2, 0xFC000, {0xB0, 0x07}) + "\n" + srecord(8, 0xFC000) + "\n";
const std::string kBadBoot = kGoodBoot + "garbage\n";
const std::string kGoodApplication = srecord(2, 0xA0020, {0xA9, 0x90}) + "\n" + srecord(8, 0xA0000) + "\n";
const std::string kBadApplication = "garbage\n" + kGoodApplication;

class LoadFirmwareFiles : public ::testing::Test {
protected:
    void files(const std::string* boot, const std::string* application)
    {
        if (boot != nullptr)
            writeFile(dir / "corvo_boot.s19", *boot);
        if (application != nullptr)
            writeFile(dir / "corvo_fwapp.s19", *application);
    }
    bool bootLoaded() const { return image.data()[0x5C000] == 0xB0 && image.data()[0x5C001] == 0x07; }
    bool applicationLoaded() const { return image.data()[0x20] == 0xA9 && image.data()[0x21] == 0x90; }

    TempDir dir;
    FirmwareImage image;
};

TEST_F(LoadFirmwareFiles, GoodFilesLoadWithoutAsking)
{
    files(&kGoodBoot, &kGoodApplication);
    ScriptedPrompts prompts;
    EXPECT_EQ(loadFirmwareFiles(image, prompts, dir.path()), LoadOutcome::GoOn);
    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_TRUE(bootLoaded());
    EXPECT_TRUE(applicationLoaded());
}

TEST_F(LoadFirmwareFiles, MissingBootFileIsAnErrorAndStops)
{
    files(nullptr, &kGoodApplication);
    ScriptedPrompts prompts;
    EXPECT_EQ(loadFirmwareFiles(image, prompts, dir.path()), LoadOutcome::Stop);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
    EXPECT_EQ(prompts.boxes[0].text, "Failed to process boot code file");
    EXPECT_FALSE(applicationLoaded());
}

TEST_F(LoadFirmwareFiles, MissingApplicationFileIsAnErrorAndStops)
{
    files(&kGoodBoot, nullptr);
    ScriptedPrompts prompts;
    EXPECT_EQ(loadFirmwareFiles(image, prompts, dir.path()), LoadOutcome::Stop);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
    EXPECT_EQ(prompts.boxes[0].text, "Failed to process application code file");
}

TEST_F(LoadFirmwareFiles, BootErrorsAndNoStopsBeforeTheApplication)
{
    files(&kBadBoot, &kGoodApplication);
    ScriptedPrompts prompts({Answer::No});
    EXPECT_EQ(loadFirmwareFiles(image, prompts, dir.path()), LoadOutcome::Stop);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].kind, Kind::Question);
    EXPECT_EQ(prompts.boxes[0].text, kBootQuestion);
    EXPECT_FALSE(applicationLoaded());
}

TEST_F(LoadFirmwareFiles, BootErrorsAndYesLoadTheApplicationWhoseQuestionFollows)
{
    files(&kBadBoot, &kBadApplication);
    ScriptedPrompts prompts({Answer::Yes, Answer::No});
    EXPECT_EQ(loadFirmwareFiles(image, prompts, dir.path()), LoadOutcome::Stop);
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[0].text, kBootQuestion);
    EXPECT_EQ(prompts.boxes[1].kind, Kind::Question);
    EXPECT_EQ(prompts.boxes[1].text, kApplicationQuestion);
    EXPECT_TRUE(bootLoaded());
    EXPECT_TRUE(applicationLoaded());
}

TEST_F(LoadFirmwareFiles, YesToBothQuestionsGoesOn)
{
    files(&kBadBoot, &kBadApplication);
    ScriptedPrompts prompts({Answer::Yes, Answer::Yes});
    EXPECT_EQ(loadFirmwareFiles(image, prompts, dir.path()), LoadOutcome::GoOn);
    EXPECT_EQ(prompts.boxes.size(), 2u);
}

TEST_F(LoadFirmwareFiles, ApplicationFileCannotReachTheBootRegion)
{
    const std::string application = srecord(2, 0xFC000, {0x00, 0x00}) + "\n" + srecord(8, 0) + "\n";
    files(&kGoodBoot, &application);
    ScriptedPrompts prompts({Answer::Yes});
    EXPECT_EQ(loadFirmwareFiles(image, prompts, dir.path()), LoadOutcome::GoOn);
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, kApplicationQuestion);
    EXPECT_TRUE(bootLoaded());
}

TEST_F(LoadFirmwareFiles, RecordsThatContradictEachOtherAskNamingTheFirstAddress)
{
    const std::string boot = srecord(2, 0xFC000, {0xB0, 0x07}) + "\n" + srecord(2, 0xFC001, {0x08}) + "\n" + kGoodBoot;
    const std::string application = srecord(2, 0xA0021, {0x91}) + "\n" + kGoodApplication;
    files(&boot, &application);
    ScriptedPrompts prompts({Answer::Yes, Answer::No});
    EXPECT_EQ(loadFirmwareFiles(image, prompts, dir.path()), LoadOutcome::Stop);
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[0].cause, Cause{QuestionKind::BootFileConflict});
    EXPECT_EQ(prompts.boxes[0].text,
              "The boot code file (corvo_boot.s19) seems to contain errors.\n\nTwo of its records give different bytes "
              "for flash address 0xFC001.\n\nIt is suggested not to write it to the radio.\nDoing so might render the "
              "radio unusable.\n\nWould you like to proceed anyway?");
    EXPECT_EQ(prompts.boxes[1].cause, Cause{QuestionKind::ApplicationFileConflict});
    EXPECT_EQ(prompts.boxes[1].text,
              "The application code file (corvo_fwapp.s19) seems to contain errors.\n\nTwo of its records give different "
              "bytes for flash address 0xA0021.\n\nIt is suggested not to write it to the radio.\nWriting it might "
              "render the radio unusable.\n\nWould you like to proceed anyway?");
}

// The sample files rewritten in the ways tools and people rewrite S-record headers (a
// converter's rewrite is tried end to end, through objcopy, in CliBadInput). Only the bytes
// they place decide: other firmware is never taken for a sample, whatever its header says.
std::vector<std::string> lineList(const std::string& text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

std::string joined(const std::vector<std::string>& lineList)
{
    std::string text;
    for (const auto& line : lineList)
        text += line + "\n";
    return text;
}

std::string header(const std::string& text)
{
    return srecord(0, 0, std::vector<std::uint8_t>(text.begin(), text.end()));
}

struct SampleCase {
    const char* name;
    std::function<std::string(const std::string& file, const std::string& name)> rewrite;
    bool refused;
};

void PrintTo(const SampleCase& c, std::ostream* out)
{
    *out << c.name;
}

class SampleFirmware : public ::testing::TestWithParam<SampleCase> {};

TEST_P(SampleFirmware, IsKnownByItsDataForAnyBoardButTheEmulatedOne)
{
    TempDir dir;
    for (const char* name : {kBootFileName, kApplicationFileName}) {
        const auto bytes = fieldkit::testing::readFile(std::filesystem::path(FIELDKIT_EXAMPLES_DIR) / name);
        writeFile(dir / name, GetParam().rewrite(std::string(bytes.begin(), bytes.end()), name));
    }
    FirmwareImage image;
    ScriptedPrompts prompts;
    std::vector<LoadedFile> loaded;
    ASSERT_EQ(loadFirmwareFiles(image, prompts, dir.path(), &loaded), LoadOutcome::GoOn);
    EXPECT_TRUE(prompts.boxes.empty());
    if (GetParam().refused)
        EXPECT_EQ(sampleFirmwareRefusal(loaded, false),
                  "corvo_boot.s19 and corvo_fwapp.s19 are sample firmware, made for the emulated board only. Written "
                  "to a radio, they would leave the radio unusable.\n\nNothing was written to the board.");
    else
        EXPECT_EQ(sampleFirmwareRefusal(loaded, false), std::nullopt);
    EXPECT_EQ(sampleFirmwareRefusal(loaded, true), std::nullopt);
}

INSTANTIATE_TEST_SUITE_P(
    Rewrites, SampleFirmware,
    ::testing::Values(
        SampleCase{"AsMade", [](const std::string& file, const std::string&) { return file; }, true},
        SampleCase{"NeutralHeaderFirst",
                   [](const std::string& file, const std::string& name) { return header(name) + "\n" + file; }, true},
        SampleCase{"MarkSplitAcrossTwoHeaders",
                   [](const std::string& file, const std::string& name) {
                       auto records = lineList(file);
                       records[0] = header(name + " FIELDKIT SAMPLE,") + "\n" + header(" NEVER FOR A RADIO");
                       return joined(records);
                   },
                   true},
        SampleCase{"OtherFirmwareUnderTheSampleHeader",
                   [](const std::string& file, const std::string& name) {
                       return lineList(file)[0] + "\n" + (name == kBootFileName ? kGoodBoot : kGoodApplication);
                   },
                   false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(LoadFirmwareFilesSample, ExampleFilesLoadCleanlyAndLeaveTheTrailerBlank)
{
    FirmwareImage image;
    ScriptedPrompts prompts;
    EXPECT_EQ(loadFirmwareFiles(image, prompts, FIELDKIT_EXAMPLES_DIR), LoadOutcome::GoOn);
    EXPECT_TRUE(prompts.boxes.empty());
    // The boot code leaves the parameter trailer's place blank.
    EXPECT_TRUE(std::all_of(image.data() + 0x5FF00, image.data() + 0x5FF80, [](auto b) { return b == 0xFF; }));
    const auto erased = [](auto b) { return b == 0xFF; };
    EXPECT_LT(std::count_if(image.data() + 0x5C000, image.data() + 0x60000, erased), 0x1000);
    EXPECT_LT(std::count_if(image.data(), image.data() + 0x50000, erased), 0x20000);
}

} // namespace
} // namespace fieldkit::image
