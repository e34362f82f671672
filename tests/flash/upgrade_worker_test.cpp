#include "flash/flash_programmer.h"
#include "flash/upgrade_steps.h"
#include "flash/upgrade_worker.h"

#include "image/config_block.h"
#include "image/firmware_files.h"
#include "image/firmware_image.h"
#include "image/parameter_trailer.h"
#include "image/srecord_loader.h"
#include "link/serial_board_link.h"
#include "sim/board_endpoint.h"
#include "sim/in_memory_channel.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_link.h"
#include "tests/support/recording_notices.h"
#include "tests/support/scripted_prompts.h"
#include "tests/support/srecord_writer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>

namespace fieldkit::flash {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testing::ScriptedPrompts;
using Kind = ScriptedPrompts::Kind;

constexpr const char* kAdvice = "\n\nPlease turn the radio off and back on.\n\nThen, try upgrading again.\n\n";

// Writes stretches of a counting pattern as 32-byte records and an end record.
void writeFirmware(const fs::path& file, std::vector<std::pair<std::uint32_t, std::size_t>> stretches)
{
    std::ofstream out(file);
    for (const auto& [address, length] : stretches)
        for (std::size_t offset = 0; offset < length; offset += 32) {
            std::vector<std::uint8_t> data(std::min<std::size_t>(32, length - offset));
            for (std::size_t i = 0; i < data.size(); ++i)
                data[i] = static_cast<std::uint8_t>((address + offset + i) * 7 + 1);
            out << testing::srecord(2, static_cast<std::uint32_t>(address + offset), data) << '\n';
        }
    out << "S804000000FB\n"; // end record
}


class UpgradeWorkerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("fieldkit-worker-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        // Boot code over most of its block but the trailer page; application code in the
        // first and the last of its blocks, blank in between.
        writeFirmware(dir / image::kBootFileName, {{0xFC000, 0x3F00}, {0xFFF80, 0x80}});
        writeFirmware(dir / image::kApplicationFileName, {{0xA0000, 0x1000}, {0xB0000, 0x300}, {0xEF000, 0xF00}});
    }
    void TearDown() override { fs::remove_all(dir); }

    void run()
    {
        endpoint = std::make_unique<sim::BoardEndpoint>(options);
        serial = std::make_unique<link::SerialBoardLink>(
            [this](int) { return std::make_unique<sim::InMemoryChannel>(*endpoint); });
        recording = std::make_unique<testing::RecordingLink>(*serial);
        for (const auto& [function, occurrence] : injectedFailures)
            recording->failCall(function, occurrence);
        recording->afterCall = recordingHook;
        EXPECT_EQ(UpgradeWorker(frame, {*recording, clock, prompts, notices, dir, &report, stop.get(), loadedFiles}), 0);
    }

    // The image an upgrade of this board must leave in flash.
    image::FirmwareImage expectedImage(int configVariant, std::optional<std::uint32_t> esn = std::nullopt) const
    {
        image::FirmwareImage image;
        ScriptedPrompts yes({Answer::Yes, Answer::Yes});
        EXPECT_EQ(image::loadFirmwareFiles(image, yes, dir), image::LoadOutcome::GoOn);
        image::writeDefaultConfigBlock(static_cast<std::uint8_t>(configVariant), 1, image, 0xA0200);
        image::writeImageHeader(image);
        image::BoardParameterTrailer trailer;
        if (esn)
            trailer.fillFromEsn(*esn);
        else
            trailer.takeParameterBlock(options.parameterBlock());
        trailer.storeInImage(image);
        return image;
    }

    void expectFlashHolds(const image::FirmwareImage& image)
    {
        const auto flashContent = endpoint->flashSnapshot();
        const auto bytes = image.bytes();
        EXPECT_TRUE(std::equal(bytes.begin(), bytes.begin() + 0x50000, flashContent.begin() + 0xA0000))
            << "application region differs";
        EXPECT_TRUE(std::equal(bytes.begin() + 0x5C000, bytes.end(), flashContent.begin() + 0xFC000))
            << "boot region differs";
    }

    std::vector<const testing::RecordingLink::Call*> callsTo(const std::string& function) const
    {
        std::vector<const testing::RecordingLink::Call*> found;
        for (const auto& call : recording->calls)
            if (call.function == function)
                found.push_back(&call);
        return found;
    }

    std::size_t count(int code) const
    {
        return static_cast<std::size_t>(std::count_if(notices.notices.begin(), notices.notices.end(),
                                                      [code](const auto& n) { return n.code == code; }));
    }

    fs::path dir;
    sim::BoardOptions options;
    std::vector<std::pair<std::string, int>> injectedFailures;
    std::unique_ptr<sim::BoardEndpoint> endpoint;
    std::unique_ptr<link::SerialBoardLink> serial;
    std::unique_ptr<testing::RecordingLink> recording;
    testing::FakeClock clock{1'000'000};
    ScriptedPrompts prompts;
    testing::RecordingNotices notices;
    SettingsFrame frame{2, "R09.00.00"};
    UpgradeReport report;
    std::unique_ptr<UpgradeStop> stop;
    const image::FirmwareImage* loadedFiles = nullptr;
    std::function<void(const testing::RecordingLink::Call&)> recordingHook;
};

TEST_F(UpgradeWorkerTest, ASuccessfulRunLeavesTheImageInFlashWithItsPausesNoticesAndTimedFinalText)
{
    options.bandEdgeHz = 746000000;
    options.variantFlag = 0x80;
    run();

    EXPECT_TRUE(prompts.boxes.empty());
    expectFlashHolds(expectedImage(5));
    EXPECT_EQ(clock.pauses, (std::vector{200ms, 200ms, 200ms, 200ms, 500ms, 2000ms, 2000ms, 2000ms}));
    EXPECT_EQ(notices.statusTexts(),
              (std::vector<std::string>{"Verifying the option board", "Erasing flash blocks", "Upgrading the boot code",
                                        "Verifying the boot code", "Upgrading the application code",
                                        "Verifying the application code", "Ready - Took 0 minutes and 7 seconds"}));
    const auto image = expectedImage(5);
    const auto pages = countNonBlankPages(image.bytes());
    EXPECT_EQ(notices.notices[1], (testing::RecordingNotices::Notice{UPG_BEGIN_PROGRESS, pages, {}}));
    EXPECT_EQ(count(UPG_PAGE_DONE), pages);
    EXPECT_EQ(notices.notices.back(), (testing::RecordingNotices::Notice{UPG_FINISHED, UPG_RESULT_SUCCESS, {}}));
    EXPECT_EQ(recording->openPorts, 0);
    EXPECT_EQ(recording->calls.back().function, "ClosePort");

    // The timers are set as the board's line wants them, the rest passed back as read.
    EXPECT_EQ(recording->configuredTimers.words[0], 50u);
    EXPECT_EQ(recording->configuredTimers.words[1], 200u);
    EXPECT_EQ(recording->configuredTimers.words[8], 7u);
    // Rows 10 down to 6 are erased, in that order, and nothing else.
    std::vector<std::uint32_t> erased;
    for (const auto* call : callsTo("WriteDataOnly"))
        if ((call->address & 0xFF00) == CMD_ERASE_BLOCK)
            erased.push_back(call->address);
    EXPECT_EQ(erased, (std::vector<std::uint32_t>{0x111A, 0x1119, 0x1118, 0x1117, 0x1116}));
}

TEST_F(UpgradeWorkerTest, APageThatFailsTwiceCostsTwoMorePausesAndTheRunStillSucceeds)
{
    options.failPageWriteAt[0xB0100] = 2;
    run();
    EXPECT_EQ(clock.pauses, (std::vector{200ms, 200ms, 200ms, 200ms, 500ms, 2000ms, 2000ms, 200ms, 200ms, 2000ms}));
    EXPECT_EQ(notices.notices.back().argument, static_cast<std::uint32_t>(UPG_RESULT_SUCCESS));
    expectFlashHolds(expectedImage(0));
}

TEST_F(UpgradeWorkerTest, APageThatFailsThreeTimesStopsTheApplicationWriteWithAdvice)
{
    options.failPageWriteAt[0xB0100] = 3;
    run();
    EXPECT_EQ(clock.pauses, (std::vector{200ms, 200ms, 200ms, 200ms, 500ms, 2000ms, 2000ms, 200ms, 200ms, 200ms}));
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, std::string("Failed to write to application code area.") + kAdvice);
    EXPECT_EQ(notices.statusTexts().back(), "Ready");
    EXPECT_EQ(notices.notices.back().argument, static_cast<std::uint32_t>(UPG_RESULT_FAILURE));
}

struct FailureRow {
    const char* name;
    std::vector<std::string> simOptions;           // faults of the emulated board
    std::vector<std::pair<std::string, int>> calls; // link calls failed before they reach it
    FailureKind kind;
    std::string message;
    bool advice;
    bool portWasOpen;
};

class UpgradeFailure : public UpgradeWorkerTest, public ::testing::WithParamInterface<FailureRow> {};

TEST_P(UpgradeFailure, ShowsOneErrorStopsAndClosesThePort)
{
    const auto& row = GetParam();
    options = sim::parseBoardOptions(row.simOptions);
    injectedFailures = row.calls;
    run();

    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].kind, Kind::Error);
    EXPECT_EQ(prompts.boxes[0].text, row.message + (row.advice ? kAdvice : ""));
    EXPECT_EQ(prompts.boxes[0].cause, Cause{row.kind});
    EXPECT_EQ(report.failure, row.kind);
    EXPECT_EQ(report.message, prompts.boxes[0].text);
    EXPECT_FALSE(report.succeeded);
    // The board is changed exactly when the failing step came after the erase began.
    EXPECT_EQ(boardChangedFrom(report.stage), row.advice);
    EXPECT_EQ(notices.statusTexts().back(), "Ready");
    EXPECT_EQ(notices.notices.back(), (testing::RecordingNotices::Notice{UPG_FINISHED, UPG_RESULT_FAILURE, {}}));
    EXPECT_EQ(recording->openPorts, 0);

    // Nothing reaches the board after the failing step but the closing of the port: the
    // failing step is a refused call, or for a verification the board's verdict.
    ASSERT_FALSE(recording->calls.empty());
    if (row.portWasOpen) {
        EXPECT_EQ(recording->calls.back().function, "ClosePort");
    }
    const auto& failing = recording->calls[recording->calls.size() - (row.portWasOpen ? 2 : 1)];
    if (row.message.find("verify") != std::string::npos) {
        EXPECT_EQ(failing.function, "ReadDataOnly");
        EXPECT_EQ(failing.address, ADDR_VERIFY_STATUS);
        EXPECT_EQ(failing.data.at(0) & kChecksumRejectedBit, kChecksumRejectedBit);
    } else {
        EXPECT_NE(failing.result, 0) << failing.function;
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryStep, UpgradeFailure,
    ::testing::Values(
        FailureRow{"Init", {}, {{"BriskDllInit", 1}}, FailureKind::LinkInit, link::kInitFailed, false, false},
        FailureRow{"ReadTimers", {}, {{"ReadTimers", 1}}, FailureKind::ReadTimers, "Failed to read timers", false, false},
        FailureRow{"ConfigureTimers", {}, {{"ConfigureTimers", 1}}, FailureKind::ConfigureTimers, "Failed to configure timers", false, false},
        FailureRow{"ProbeOpen", {}, {{"OpenPort", 1}}, FailureKind::OpenPort, "Failed to open serial port", false, false},
        FailureRow{"Ping", {"--no-ping"}, {}, FailureKind::Ping, "Failed to communicate with the option board.\n\nPlease switch the radio to a Lodestar zone.", false, false},
        FailureRow{"ConnectionOpen", {}, {{"OpenPort", 2}}, FailureKind::OpenPort, "Failed to open serial port", false, false},
        FailureRow{"Esn", {"--fail-read", "0x4100", "--fail-read", "0x0500"}, {}, FailureKind::ReadEsn, "Failed to read ESN", false, true},
        FailureRow{"ProgrammingMode", {"--fail-command", "0x1201"}, {}, FailureKind::ProgrammingMode, "Failed to switch to programming mode", false, true},
        FailureRow{"EraseRow8", {"--fail-command", "0x1118"}, {}, FailureKind::EraseBlock, "Failed to erase block 8.", true, true},
        FailureRow{"BootWrite", {"--fail-page-writes", "3@0xA0000"}, {}, FailureKind::BootWrite, "Failed to write to boot code temporary storage area.", true, true},
        FailureRow{"BootVerify", {"--reject-verify", "boot"}, {}, FailureKind::BootVerify, "Failed to verify boot code integrity.", true, true},
        FailureRow{"BootCopy", {"--fail-command", "0x3100"}, {}, FailureKind::BootCopy, "Failed to copy boot code from temporary storage area.", true, true},
        FailureRow{"AppWrite", {"--fail-page-writes", "3@0xEFE00"}, {}, FailureKind::ApplicationWrite, "Failed to write to application code area.", true, true},
        FailureRow{"AppVerify", {"--reject-verify", "app"}, {}, FailureKind::ApplicationVerify, "Failed to verify application code integrity.", true, true}),
    [](const auto& info) { return std::string(info.param.name); });

struct StopRow {
    const char* name;
    const char* function;
    std::uint32_t address; // the stop is requested when a call to this address returns...
    int occurrence;        // ...for this time
    UpgradeStage stage;    // where the run then ends
    bool beforeEraseOnly = false; // a hang-up's stop rather than the user's
};

class UpgradeStopped : public UpgradeWorkerTest, public ::testing::WithParamInterface<StopRow> {};

// A stop ends the run at the next safe point: no box, no page half sent, the port closed.
TEST_P(UpgradeStopped, EndsBetweenPagesWithoutABoxAndClosesThePort)
{
    const auto& row = GetParam();
    stop = std::make_unique<UpgradeStop>();
    int seen = 0;
    recordingHook = [&](const testing::RecordingLink::Call& call) {
        if (call.function == row.function && call.address == row.address && ++seen == row.occurrence)
            row.beforeEraseOnly ? stop->requestBeforeErase() : stop->request();
    };
    run();

    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_TRUE(report.interrupted);
    EXPECT_FALSE(report.failure);
    EXPECT_EQ(report.stage, row.stage);
    EXPECT_EQ(notices.notices.back(), (testing::RecordingNotices::Notice{UPG_FINISHED, UPG_RESULT_FAILURE, {}}));
    EXPECT_EQ(recording->calls.back().function, "ClosePort");
    EXPECT_EQ(recording->openPorts, 0);
    std::size_t data = 0, commits = 0, erasedOrWritten = 0;
    for (const auto* call : callsTo("WriteDataOnly")) {
        data += call->address == ADDR_PAGE_DATA;
        commits += call->address == ADDR_PAGE_COMMIT;
        erasedOrWritten += call->address != CMD_PROGRAMMING_MODE;
    }
    EXPECT_EQ(data, commits);
    EXPECT_EQ(erasedOrWritten != 0, boardChangedFrom(row.stage));
}

INSTANTIATE_TEST_SUITE_P(
    SafePoints, UpgradeStopped,
    ::testing::Values(StopRow{"BeforeTheErase", "ReadDataOnly", link::ADDR_FIRMWARE_VERSION, 1, UpgradeStage::ReadingBoard},
                      StopRow{"HangUpBeforeTheErase", "ReadDataOnly", link::ADDR_FIRMWARE_VERSION, 1, UpgradeStage::ReadingBoard, true},
                      // the board waits in programming mode for an erase that never comes
                      StopRow{"HangUpInProgrammingMode", "WriteDataOnly", CMD_PROGRAMMING_MODE, 1, UpgradeStage::ProgrammingMode, true},
                      StopRow{"InsideABootPage", "WriteDataOnly", ADDR_PAGE_DATA, 3, UpgradeStage::WritingBoot},
                      StopRow{"DuringTheBootCopy", "WriteDataOnly", CMD_BOOT_COPY, 1, UpgradeStage::CopyingBoot},
                      StopRow{"InsideAnApplicationPage", "WriteDataOnly", ADDR_PAGE_DATA, 80, UpgradeStage::WritingApplication}),
    [](const auto& info) { return std::string(info.param.name); });

// A hang-up once the erase has begun: nobody asked to stop, and only a finished board is whole.
TEST_F(UpgradeWorkerTest, AHangUpAfterTheEraseLetsTheRunFinish)
{
    stop = std::make_unique<UpgradeStop>();
    recordingHook = [&](const testing::RecordingLink::Call& call) {
        if (call.function == "WriteDataOnly" && call.address == 0x111A)
            stop->requestBeforeErase();
    };
    run();
    EXPECT_TRUE(report.succeeded);
    EXPECT_FALSE(report.interrupted);
}

TEST_F(UpgradeWorkerTest, AnEraseFailureAtRowEightLeavesRowsSevenAndSixAlone)
{
    options = sim::parseBoardOptions({"--fail-command", "0x1118"});
    run();
    std::vector<std::uint32_t> sent;
    for (const auto* call : callsTo("WriteDataOnly"))
        sent.push_back(call->address);
    EXPECT_EQ(sent, (std::vector<std::uint32_t>{CMD_PROGRAMMING_MODE, 0x111A, 0x1119, 0x1118}));
    EXPECT_EQ(count(UPG_BEGIN_PROGRESS), 1u);
}

TEST_F(UpgradeWorkerTest, AFailedFinishWarnsButTheRunSucceeds)
{
    options = sim::parseBoardOptions({"--fail-command", "0x1313"});
    run();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].kind, Kind::Warning);
    EXPECT_EQ(prompts.boxes[0].text, "Please reset your radio");
    EXPECT_EQ(notices.statusTexts().back(), "Ready - Took 0 minutes and 7 seconds");
    EXPECT_EQ(notices.notices.back().argument, static_cast<std::uint32_t>(UPG_RESULT_SUCCESS));
}

TEST_F(UpgradeWorkerTest, AMissingBootFileStopsBeforeAnyLinkCall)
{
    fs::remove(dir / image::kBootFileName);
    run();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].text, "Failed to process boot code file");
    EXPECT_TRUE(recording->calls.empty());
    EXPECT_EQ(notices.notices, (std::vector<testing::RecordingNotices::Notice>{
                                   {UPG_STATUS_TEXT, 1, "Ready"}, {UPG_FINISHED, UPG_RESULT_FAILURE, {}}}));
}

TEST_F(UpgradeWorkerTest, FilesLoadedBeforehandAreWrittenFromACopyWithoutReadingOrAskingAgain)
{
    options.bandEdgeHz = 746000000;
    options.variantFlag = 0x80;
    const auto expected = expectedImage(5);
    image::FirmwareImage loaded;
    ScriptedPrompts filePrompts;
    ASSERT_EQ(image::loadFirmwareFiles(loaded, filePrompts, dir, &report.files), image::LoadOutcome::GoOn);
    const std::vector<std::uint8_t> loadedBytes(loaded.bytes().begin(), loaded.bytes().end());
    fs::remove_all(dir);
    loadedFiles = &loaded;
    run();

    EXPECT_TRUE(prompts.boxes.empty());
    EXPECT_TRUE(report.succeeded);
    expectFlashHolds(expected);
    ASSERT_EQ(report.files.size(), 2u); // as the caller filled it
    EXPECT_EQ(report.files[0].file->name, std::string(image::kBootFileName));
    EXPECT_TRUE(std::equal(loadedBytes.begin(), loadedBytes.end(), loaded.bytes().begin()))
        << "the board's configuration went into the shared image";
}

TEST_F(UpgradeWorkerTest, SameVersionAsksAndANoStopsWithNothingMoreSent)
{
    options.versionText = "R09.00.00  ";
    run();
    ASSERT_EQ(prompts.boxes.size(), 1u);
    EXPECT_EQ(prompts.boxes[0].kind, Kind::Question);
    EXPECT_EQ(prompts.boxes[0].text,
              "The Lodestar board is already flashed with\nfirmware version R09.00.00.\n\nFlash anyway?");
    EXPECT_EQ(recording->calls.back().function, "ClosePort");
    EXPECT_EQ(recording->calls[recording->calls.size() - 2].address, link::ADDR_FIRMWARE_VERSION);
    EXPECT_EQ(notices.notices.back().argument, static_cast<std::uint32_t>(UPG_RESULT_FAILURE));
}

TEST_F(UpgradeWorkerTest, SameAndIncompatibleVersionAsksTwiceInOrderAndYesToBothGoesOn)
{
    frame = SettingsFrame(2, "X03.1");
    options.versionText = "X03.1";
    prompts = ScriptedPrompts({Answer::Yes, Answer::Yes});
    run();
    ASSERT_EQ(prompts.boxes.size(), 2u);
    EXPECT_EQ(prompts.boxes[0].text,
              "The Lodestar board is already flashed with\nfirmware version X03.1.\n\nFlash anyway?");
    EXPECT_EQ(prompts.boxes[1].text,
              "The Lodestar board is flashed with firmware version X03.1.\n\nThat seems to indicate the board is "
              "incompatible with the\nfirmware you requested to write.\nIt is suggested not to write it.\nWriting it "
              "might render the radio unusable.\n\nWould you like to proceed anyway?");
    EXPECT_EQ(notices.notices.back().argument, static_cast<std::uint32_t>(UPG_RESULT_SUCCESS));
}

TEST_F(UpgradeWorkerTest, BoardReadsThatMayFailLetTheRunGoOnWithoutQuestions)
{
    struct Case {
        std::vector<std::string> faults;
        int configVariant;
        std::optional<std::uint32_t> esnTrailer;
        std::vector<std::chrono::milliseconds> pauses;
        std::optional<std::uint32_t> esnRecorded = sim::kDefaultEsn; // from the block's first 8 bytes
    };
    const std::vector<std::chrono::milliseconds> programming{500ms, 2000ms, 2000ms, 2000ms};
    auto with = [&](std::vector<std::chrono::milliseconds> reads) {
        reads.insert(reads.end(), programming.begin(), programming.end());
        return reads;
    };
    for (const Case& c : {
             // No identity: variant 0 and no version read although the parameters are there.
             Case{{"--band-edge", "136000000", "--fail-read", "0x2600"}, 0, std::nullopt, with({200ms, 200ms, 200ms})},
             // No parameters: the trailer comes from the ESN and no version is read.
             Case{{"--band-edge", "136000000", "--esn", "0x12345678", "--fail-read", "0x4100"}, 6, 0x12345678,
                  with({200ms, 200ms, 200ms, 200ms}), 0x12345678},
             // A block whose second word is not the complement of the first names no ESN.
             Case{{"--band-edge", "136000000", "--param-block", "78563412 87A9CBEC"}, 6, std::nullopt,
                  with({200ms, 200ms, 200ms, 200ms}), std::nullopt},
             // The 15-byte version read fails; the 13 bytes read next make the question.
             Case{{"--version", "X03.1", "--fail-read-len", "0x0D00:15"}, 0, std::nullopt,
                  {200ms, 200ms, 200ms, 200ms, 200ms}},
             // Both version reads fail: programming goes on without a question.
             Case{{"--fail-read", "0x0D00"}, 0, std::nullopt, with({200ms, 200ms, 200ms, 200ms, 200ms})},
         }) {
        SCOPED_TRACE(c.faults[1]);
        options = sim::parseBoardOptions(c.faults);
        prompts = ScriptedPrompts({Answer::No});
        clock.pauses.clear();
        notices.notices.clear();
        report = {};
        run();
        EXPECT_EQ(clock.pauses, c.pauses);
        EXPECT_EQ(report.esnRead ? std::optional(report.identity.esn) : std::nullopt, c.esnRecorded);
        if (c.faults[1] == "X03.1") {
            ASSERT_EQ(prompts.boxes.size(), 1u);
            EXPECT_NE(prompts.boxes[0].text.find("firmware version X03.1.\n"), std::string::npos);
            continue;
        }
        EXPECT_TRUE(prompts.boxes.empty());
        EXPECT_EQ(notices.notices.back().argument, static_cast<std::uint32_t>(UPG_RESULT_SUCCESS));
        expectFlashHolds(expectedImage(c.configVariant, c.esnTrailer));
    }
}

TEST_F(UpgradeWorkerTest, WithoutAWindowNoNoticesAreSentButBoxesStillAppear)
{
    notices = testing::RecordingNotices(false);
    options = sim::parseBoardOptions({"--reject-verify", "app"});
    run();
    EXPECT_TRUE(notices.notices.empty());
    EXPECT_EQ(prompts.boxes.size(), 1u);
}

TEST_F(UpgradeWorkerTest, ATickCounterWrappingDuringTheRunStillTimesItRight)
{
    clock = testing::FakeClock(0xFFFFFFFFu - 3000);
    run();
    EXPECT_EQ(notices.statusTexts().back(), "Ready - Took 0 minutes and 7 seconds");
}

TEST(UpgradeSteps, FinalTextAndElapsedTime)
{
    EXPECT_EQ(finalText(0), "Ready");
    EXPECT_EQ(finalText(125), "Ready - Took 2 minutes and 5 seconds");
    EXPECT_EQ(finalText(59), "Ready - Took 0 minutes and 59 seconds");
    EXPECT_EQ(elapsedSecondsBetween(0xFFFFFC18u, 0x00001B58u), 8u); // wrapped: 1000 + 7000 ms
    EXPECT_EQ(elapsedSecondsBetween(1000, 7999), 6u);
}

TEST(UpgradeSteps, IncompatibleVersionsAreThoseOfTheFormX0OneToSixDot)
{
    for (const auto& [text, incompatible] : std::vector<std::pair<std::string, bool>>{
             {"R01.", true}, {"?06.5", true}, {"A03.12.00", true}, {"R07.", false}, {"R00.", false},
             {"R1.2", false}, {"R03", false}, {"R03-", false}, {"", false}, {"R0 .", false}}) {
        EXPECT_EQ(isIncompatibleVersion(text), incompatible) << text;
    }
}

} // namespace
} // namespace fieldkit::flash
