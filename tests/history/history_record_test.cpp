// The record each outcome of an upgrade leaves, from whole runs of the worker against the
// emulated board on in-memory lines, written to a history file and read back.

#include "core/file_digest.h"
#include "history/history_file.h"
#include "history/history_record.h"

#include "flash/upgrade_worker.h"
#include "image/firmware_files.h"
#include "link/serial_board_link.h"
#include "sim/board_endpoint.h"
#include "sim/board_options.h"
#include "sim/in_memory_channel.h"
#include "tests/support/fake_clock.h"
#include "tests/support/recording_link.h"
#include "tests/support/recording_notices.h"
#include "tests/support/scripted_prompts.h"

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <regex>

namespace fieldkit::history {
namespace {

namespace fs = std::filesystem;


struct OutcomeRow {
    const char* name;
    std::vector<std::string> simOptions;
    std::string settingsVersion;
    std::deque<Answer> answers;
    bool stopAtVersionRead; // the user stops the run when the board's version is read
    const char* result;
    const char* failureKind; // nullptr: null in the record
    bool esnKnown;
    bool identityKnown;
    bool versionKnown;
    const char* questions;   // the questions field as JSON
    const char* firmware = nullptr; // "no_boot": corvo_boot.s19 missing; "bad_app": corvo_fwapp.s19 with errors
};

void PrintTo(const OutcomeRow& row, std::ostream* out)
{
    *out << row.name;
}

class UpgradeRecord : public ::testing::TestWithParam<OutcomeRow> {
protected:
    void SetUp() override
    {
        file = fs::temp_directory_path() / ("fieldkit-record-" + std::string(GetParam().name)) / "history.jsonl";
        fs::remove_all(file.parent_path());
    }
    void TearDown() override { fs::remove_all(file.parent_path()); }
    // The examples' firmware, or a copy with the row's fault.
    fs::path firmwareFor(const char* fault) const
    {
        if (fault == nullptr)
            return FIELDKIT_EXAMPLES_DIR;
        const fs::path copy = file.parent_path() / "firmware";
        fs::create_directories(copy);
        for (const char* name : {image::kBootFileName, image::kApplicationFileName})
            fs::copy_file(fs::path(FIELDKIT_EXAMPLES_DIR) / name, copy / name);
        if (std::string(fault) == "no_boot")
            fs::remove(copy / image::kBootFileName);
        else
            std::ofstream(copy / image::kApplicationFileName, std::ios::app) << "garbage\n";
        return copy;
    }

    fs::path file;
};

TEST_P(UpgradeRecord, TellsTheOutcomeAndWhatWasReadAndSurvivesTheFile)
{
    const OutcomeRow& row = GetParam();
    sim::BoardEndpoint endpoint(sim::parseBoardOptions(row.simOptions));
    link::SerialBoardLink serial([&endpoint](int) { return std::make_unique<sim::InMemoryChannel>(endpoint); });
    fieldkit::testing::RecordingLink link(serial);
    UpgradeStop stop;
    link.afterCall = [&](const fieldkit::testing::RecordingLink::Call& call) {
        if (row.stopAtVersionRead && call.function == "ReadDataOnly" && call.address == link::ADDR_FIRMWARE_VERSION)
            stop.request();
    };
    fieldkit::testing::FakeClock clock;
    fieldkit::testing::ScriptedPrompts prompts(row.answers);
    fieldkit::testing::RecordingNotices notices;
    flash::SettingsFrame frame(2, row.settingsVersion);
    flash::UpgradeReport report;
    const fs::path firmware = firmwareFor(row.firmware);

    UpgradeRun run(kUpgradeCommand);
    run.port = 2;
    run.device = "/dev/ttyUSB0";
    run.settingsVersion = row.settingsVersion;
    flash::UpgradeWorker(frame, {link, clock, prompts, notices, firmware, &report, &stop});
    const Record record = recordFor(run, report);

    ASSERT_FALSE(appendRecord(file, record)) << "the history's folder is made when missing";
    std::string error;
    const auto contents = readHistory(file, &error);
    ASSERT_TRUE(contents) << error;
    ASSERT_EQ(contents->records.size(), 1u);
    EXPECT_EQ(contents->skippedLines, 0u);
    EXPECT_EQ(contents->records[0].record, record);

    EXPECT_EQ(record["schema"], 1);
    EXPECT_EQ(record["command"], "upgrade");
    EXPECT_TRUE(std::regex_match(record["started"].get<std::string>(),
                                 std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\dZ)")));
    EXPECT_GE(record["seconds"].get<double>(), 0.0);
    EXPECT_EQ(record["port"], "COM2");
    EXPECT_EQ(record["device"], "/dev/ttyUSB0");
    EXPECT_EQ(record["simulated"], false);
    EXPECT_EQ(record["result"], row.result);
    EXPECT_EQ(record["failure_kind"], row.failureKind ? Record(row.failureKind) : Record());
    // The message is the error box's text, exactly.
    const bool failed = row.failureKind != nullptr;
    ASSERT_EQ(prompts.boxes.size(), (failed ? 1u : 0u) + record["questions"].size());
    EXPECT_EQ(record["message"], failed ? Record(prompts.boxes.back().text) : Record());
    EXPECT_EQ(record["questions"], Record::parse(row.questions));

    const sim::BoardOptions board = sim::parseBoardOptions(row.simOptions);
    EXPECT_EQ(record["esn"], row.esnKnown ? Record(board.esn) : Record());
    EXPECT_EQ(record["board_version"], row.versionKnown ? Record(board.versionText) : Record());
    // The band the image was built for, also when a later read stopped the run.
    const auto block = board.identityBlock();
    std::uint32_t bandEdge = 0;
    for (std::size_t i = 0; i < 4; ++i)
        bandEdge = bandEdge << 8 | block[sim::kIdentityBandEdgeOffset + i];
    const int variant = link::bandFromEdgeFrequency(bandEdge) * 2 + (block[sim::kIdentityVariantFlagOffset] != 0);
    EXPECT_EQ(record["band_edge_hz"], row.identityKnown ? Record(bandEdge) : Record());
    EXPECT_EQ(record["config_variant"], row.identityKnown ? Record(variant) : Record());
    EXPECT_EQ(record["settings_version"], row.identityKnown && row.versionKnown ? Record(row.settingsVersion) : Record());

    // Both files are loaded before the board is reached, up to one that cannot be read (it
    // has no size or digest); the header exactly when the image was built.
    const bool noBoot = row.firmware != nullptr && std::string(row.firmware) == "no_boot";
    ASSERT_EQ(record["files"].size(), noBoot ? 1u : 2u);
    for (const auto& entry : record["files"]) {
        const fs::path path = firmware / entry["name"].get<std::string>();
        const auto digest = digestOfFile(path);
        EXPECT_EQ(entry["size"], digest ? Record(digest->size) : Record());
        EXPECT_EQ(entry["sha256"], digest ? Record(digest->sha256) : Record());
    }
    EXPECT_EQ(record["files"][0]["name"], image::kBootFileName);
    if (report.headerChecksum) {
        char expected[8];
        std::snprintf(expected, sizeof expected, "0x%04X", static_cast<unsigned>(*report.headerChecksum));
        EXPECT_EQ(record["header_checksum"], expected);
    } else {
        EXPECT_TRUE(record["header_checksum"].is_null());
    }
    EXPECT_EQ(record["pages_written"], report.pagesWritten);
    EXPECT_EQ(record["pages_written"].get<unsigned>() > 0, std::string(row.result) == "success" ||
                                                                std::string(row.failureKind ? row.failureKind : "") == "application_verify");
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutcome, UpgradeRecord,
    ::testing::Values(
        OutcomeRow{"Success", {}, "R09.00.00", {}, false, "success", nullptr, true, true, true, "[]"},
        OutcomeRow{"SuccessWithoutParameterBlock", {"--fail-read", "0x4100"}, "R09.00.00", {}, false, "success", nullptr, true, true, false, "[]"},
        OutcomeRow{"SuccessWithoutIdentityBlock", {"--fail-read", "0x2600"}, "R09.00.00", {}, false, "success", nullptr, true, false, false, "[]"},
        OutcomeRow{"AlreadyFlashedAnsweredYes", {}, "R07.12.00", {Answer::Yes}, false, "success", nullptr, true, true, true,
                   R"([{"kind":"already_flashed","answer":"yes"}])"},
        OutcomeRow{"Declined", {}, "R07.12.00", {}, false, "declined", nullptr, true, true, true,
                   R"([{"kind":"already_flashed","answer":"no"}])"},
        OutcomeRow{"Interrupted", {}, "R09.00.00", {}, true, "interrupted", nullptr, true, true, true, "[]"},
        OutcomeRow{"Ping", {"--no-ping"}, "R09.00.00", {}, false, "failure", "ping", false, false, false, "[]"},
        OutcomeRow{"ReadEsn", {"--fail-read", "0x4100", "--fail-read", "0x0500", "--band-edge", "746000000", "--variant-flag", "1"},
                   "R09.00.00", {}, false, "failure", "read_esn", false, true, false, "[]"},
        OutcomeRow{"EraseBlock", {"--fail-command", "0x1118"}, "R09.00.00", {}, false, "failure", "erase_block", true, true, true, "[]"},
        OutcomeRow{"ApplicationVerify", {"--reject-verify", "app"}, "R09.00.00", {}, false, "failure", "application_verify", true, true, true, "[]"},
        OutcomeRow{"SampleFirmwareOnARealBoard", {"--real-board"}, "R09.00.00", {}, false, "failure", "sample_firmware", true, true, false, "[]"},
        OutcomeRow{"BootFileMissing", {}, "R09.00.00", {}, false, "failure", "boot_file_unreadable", false, false, false, "[]", "no_boot"},
        OutcomeRow{"ApplicationFileErrorsDeclined", {}, "R09.00.00", {Answer::No}, false, "declined", nullptr, false, false, false,
                   R"([{"kind":"application_file_errors","answer":"no"}])", "bad_app"}),
    [](const auto& info) { return std::string(info.param.name); });

struct BoardReadRow {
    const char* name;
    std::optional<link::ConnectionFailure> failure;
    bool interrupted;
    const char* result;
    bool versionKnown;
    bool esnKnown;
};

class BoardReadRecord : public ::testing::TestWithParam<BoardReadRow> {};

TEST_P(BoardReadRecord, KeepsWhatTheReadReachedBeforeItStopped)
{
    const BoardReadRow& row = GetParam();
    link::BoardIdentity identity;
    identity.boardVersionText = "R07.12.00";
    identity.esn = 0x80000000;
    UpgradeRun run(kInfoCommand);
    const Record record = recordFor(run, reportOfBoardRead(identity, row.failure, row.interrupted));

    EXPECT_EQ(record["command"], "info");
    EXPECT_EQ(record["result"], row.result);
    EXPECT_EQ(record["board_version"], row.versionKnown ? Record("R07.12.00") : Record());
    EXPECT_EQ(record["esn"], row.esnKnown ? Record(2147483648u) : Record());
    EXPECT_EQ(record["failure_kind"], row.failure ? Record(std::string(keyOf(row.failure->kind))) : Record());
    EXPECT_EQ(record["message"], row.failure && !row.interrupted ? Record(row.failure->text) : Record());
    EXPECT_TRUE(record["band_edge_hz"].is_null());
    EXPECT_TRUE(record["settings_version"].is_null());
    EXPECT_TRUE(record["files"].empty());
}

INSTANTIATE_TEST_SUITE_P(
    EveryOutcome, BoardReadRecord,
    ::testing::Values(BoardReadRow{"Read", std::nullopt, false, "success", true, true},
                      BoardReadRow{"Ping", link::ConnectionFailure{FailureKind::Ping, link::kPingFailed}, false, "failure", false, false},
                      BoardReadRow{"Version", link::ConnectionFailure{FailureKind::ReadVersion, link::kReadVersionFailed}, false, "failure", false, false},
                      BoardReadRow{"Esn", link::ConnectionFailure{FailureKind::ReadEsn, link::kReadEsnFailed}, false, "failure", true, false},
                      BoardReadRow{"Interrupted", std::nullopt, true, "interrupted", false, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordId, IsNewForEveryRecordAndStableForOlderRecordsWithout)
{
    const std::regex uuid(R"([0-9a-f]{8}-[0-9a-f]{4}-([48])[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12})");
    const UpgradeRun run(kInfoCommand);
    const Record first = recordFor(run, reportOfBoardRead({}, std::nullopt, false));
    const Record second = recordFor(run, reportOfBoardRead({}, std::nullopt, false));
    std::smatch version;
    const std::string id = first["id"].get<std::string>();
    ASSERT_TRUE(std::regex_match(id, version, uuid)) << id;
    EXPECT_EQ(version[1], "4");
    EXPECT_NE(first["id"], second["id"]);
    EXPECT_EQ(recordIdOf(first, "any line"), id);
    EXPECT_EQ(first["bench"], benchName());
    EXPECT_EQ(benchOf(first), benchName());

    // An older record: its id comes from its line, the same on every reading, and differs
    // between lines; its bench is its host.
    const std::string line = R"({"schema":1,"command":"info","started":"2026-03-01T14:05:09Z","host":"bench-7","result":"success"})";
    const Record old = Record::parse(line);
    const std::string derived = recordIdOf(old, line);
    ASSERT_TRUE(std::regex_match(derived, version, uuid)) << derived;
    EXPECT_EQ(version[1], "8");
    EXPECT_EQ(recordIdOf(old, line), derived);
    EXPECT_NE(recordIdOf(old, line + " "), derived);
    EXPECT_NE(recordIdOf(Record::parse(R"({"id":"not-a-uuid"})"), line), "not-a-uuid");
    EXPECT_EQ(benchOf(old), "bench-7");

    const fs::path settings = fs::temp_directory_path() / "fieldkit-bench-AppConfig.ini";
    std::ofstream(settings) << "[Firmware]\nVersion=R09\n[History]\nBench = North bench 2\n";
    EXPECT_EQ(benchName(settings), "North bench 2");
    fs::remove(settings);
}

TEST(FileDigest, IsTheSha256OfTheBytesOnDiskOrNothingForAFileThatCannotBeRead)
{
    const fs::path file = fs::temp_directory_path() / "fieldkit-digest-abc";
    std::ofstream(file, std::ios::binary) << "abc";
    const auto digest = digestOfFile(file);
    ASSERT_TRUE(digest);
    EXPECT_EQ(digest->size, 3u);
    EXPECT_EQ(digest->sha256, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    fs::remove(file);
    EXPECT_FALSE(digestOfFile(file));
    EXPECT_FALSE(digestOfFile(fs::temp_directory_path()));
}

} // namespace
} // namespace fieldkit::history
