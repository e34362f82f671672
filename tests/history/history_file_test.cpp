// The history file under faults: several writers at once, lines cut short or not records,
// files that cannot be written, and where the file lives.

#include "history/history_file.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include <sys/wait.h>
#include <unistd.h>

namespace fieldkit::history {
namespace {

namespace fs = std::filesystem;

std::string contentsOf(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

Record sampleRecord(int writer, int number)
{
    Record record;
    record["schema"] = kSchemaVersion;
    record["command"] = "upgrade";
    record["started"] = "2026-03-01T10:00:00Z";
    record["result"] = "success";
    record["writer"] = writer;
    record["number"] = number;
    // Longer than a pipe's atomic write, so that unlocked writers would be caught interleaving.
    record["message"] = std::string(6000, static_cast<char>('a' + writer));
    return record;
}

class HistoryFile : public ::testing::Test {
protected:
    HistoryContents read()
    {
        std::string error;
        auto contents = readHistory(file, &error);
        EXPECT_TRUE(contents) << error;
        return contents.value_or(HistoryContents{});
    }

    testing::TempDir dir;
    fs::path file = dir / "history.jsonl";
};

TEST_F(HistoryFile, ProcessesAppendingAtOnceLeaveOnlyWholeLines)
{
    constexpr int kWriters = 6;
    constexpr int kRecordsEach = 40;
    std::vector<pid_t> children;
    for (int writer = 0; writer < kWriters; ++writer) {
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            int failures = 0;
            for (int number = 0; number < kRecordsEach; ++number)
                failures += appendRecord(file, sampleRecord(writer, number)).has_value();
            ::_exit(failures == 0 ? 0 : 1);
        }
        children.push_back(child);
    }
    for (const pid_t child : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    const HistoryContents contents = read();
    EXPECT_EQ(contents.skippedLines, 0u);
    ASSERT_EQ(contents.records.size(), static_cast<std::size_t>(kWriters * kRecordsEach));
    std::map<int, int> next; // each writer's records in its own order, none lost
    for (const auto& stored : contents.records) {
        const int writer = stored.record["writer"];
        EXPECT_EQ(stored.record, sampleRecord(writer, next[writer]));
        ++next[writer];
    }
    for (int writer = 0; writer < kWriters; ++writer)
        EXPECT_EQ(next[writer], kRecordsEach);
}

struct DamageRow {
    const char* name;
    std::string before;      // in the file before a record is appended
    std::size_t records;     // read back after the append
    std::size_t skipped;
};

class DamagedHistory : public HistoryFile, public ::testing::WithParamInterface<DamageRow> {};

TEST_P(DamagedHistory, SkipsAndCountsWhatIsNotARecordAndNeverRewritesTheFile)
{
    const DamageRow& row = GetParam();
    std::ofstream(file, std::ios::binary) << row.before;
    const std::string written = sampleRecord(1, 1).dump() + '\n';
    ASSERT_FALSE(appendRecord(file, sampleRecord(1, 1)));
    const std::string stored = contentsOf(file);

    const HistoryContents contents = read();
    EXPECT_EQ(contents.records.size(), row.records);
    EXPECT_EQ(contents.skippedLines, row.skipped);
    EXPECT_EQ(contents.records.back().record, sampleRecord(1, 1));
    EXPECT_EQ(contents.records.back().line + '\n', written);
    // What was there stays byte for byte; a torn line only gets its newline.
    EXPECT_EQ(stored.substr(0, row.before.size()), row.before);
    EXPECT_EQ(contentsOf(file), stored);

    // A writer that dies mid-line: that line is skipped, all else read.
    std::ofstream(file, std::ios::binary | std::ios::app) << R"({"schema":1,"command":"upg)";
    const HistoryContents torn = read();
    EXPECT_EQ(torn.records.size(), row.records);
    EXPECT_EQ(torn.skippedLines, row.skipped + 1);
}

const std::string kRecordLine = sampleRecord(0, 0).dump() + '\n';

INSTANTIATE_TEST_SUITE_P(
    Lines, DamagedHistory,
    ::testing::Values(DamageRow{"Empty", "", 1, 0},
                      DamageRow{"WholeRecords", kRecordLine + kRecordLine, 3, 0},
                      DamageRow{"TornLastLine", kRecordLine + R"({"schema":1,"comm)", 2, 1},
                      DamageRow{"TornLastLineCutAtAValue", kRecordLine + R"({"schema":1)", 2, 1},
                      DamageRow{"ForeignLines",
                                "not json\n[1,2]\n{\"schema\":\"one\",\"command\":\"upgrade\",\"started\":\"x\","
                                "\"result\":\"success\"}\n{\"command\":\"upgrade\"}\n" + kRecordLine,
                                2, 4},
                      // A record nested past the bound, which copying or printing would recurse through.
                      DamageRow{"NestedTooDeep",
                                R"({"schema":1,"command":"info","started":"x","result":"success","extra":)" +
                                    std::string(40, '[') + std::string(40, ']') + "}\n" + kRecordLine,
                                2, 1},
                      DamageRow{"BlankAndCarriageReturnLines", "\n" + sampleRecord(0, 0).dump() + "\r\n\n", 2, 0}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(HistoryFile, AFileThatDoesNotExistHoldsNoRecordsAndOneThatCannotBeReadSaysWhy)
{
    EXPECT_TRUE(read().records.empty());
    EXPECT_FALSE(fs::exists(file));
    const std::vector<std::pair<fs::path, std::string>> unreadable = {
        {dir.path(), "is a folder"},
        {"/proc/self/mem", "/proc/self/mem: Input/output error"}, // a read that fails
        {"/dev/zero", "is not a regular file"},                   // endless
    };
    for (const auto& [path, reason] : unreadable) {
        std::string error;
        EXPECT_FALSE(readHistory(path, &error));
        EXPECT_NE(error.find(reason), std::string::npos) << error;
    }
}

struct UnwritableRow {
    const char* name;
    std::string path; // below the test's folder unless absolute
    std::string reason;
};

class UnwritableHistory : public HistoryFile, public ::testing::WithParamInterface<UnwritableRow> {};

TEST_P(UnwritableHistory, SaysWhy)
{
    const UnwritableRow& row = GetParam();
    fs::create_directories(dir / "folder");
    std::ofstream(dir / "plain-file") << "x";
    const fs::path target = fs::path(row.path).is_absolute() ? fs::path(row.path) : dir / row.path;
    const auto failure = appendRecord(target, sampleRecord(0, 0));
    ASSERT_TRUE(failure);
    EXPECT_NE(failure->find(row.reason), std::string::npos) << *failure;
}

INSTANTIATE_TEST_SUITE_P(
    Faults, UnwritableHistory,
    ::testing::Values(UnwritableRow{"PathIsAFolder", "folder", "Is a directory"},
                      UnwritableRow{"FolderIsAFile", "plain-file/history.jsonl", "plain-file"},
                      UnwritableRow{"DiskFull", "/dev/full", "No space left on device"}),
    [](const auto& info) { return std::string(info.param.name); });

struct LocationRow {
    const char* name;
    const char* chosen;  // FIELDKIT_HISTORY
    const char* data;    // XDG_DATA_HOME
    const char* home;
    const char* expected;
};

class HistoryLocation : public ::testing::TestWithParam<LocationRow> {};

TEST_P(HistoryLocation, FollowsTheEnvironment)
{
    const LocationRow& row = GetParam();
    const auto set = [](const char* name, const char* value) {
        if (value != nullptr)
            ::setenv(name, value, 1);
        else
            ::unsetenv(name);
    };
    const std::string saved[] = {std::getenv("FIELDKIT_HISTORY") ? std::getenv("FIELDKIT_HISTORY") : "",
                                 std::getenv("XDG_DATA_HOME") ? std::getenv("XDG_DATA_HOME") : "",
                                 std::getenv("HOME") ? std::getenv("HOME") : ""};
    set("FIELDKIT_HISTORY", row.chosen);
    set("XDG_DATA_HOME", row.data);
    set("HOME", row.home);
    const fs::path found = historyFile();
    set("FIELDKIT_HISTORY", saved[0].empty() ? nullptr : saved[0].c_str());
    set("XDG_DATA_HOME", saved[1].empty() ? nullptr : saved[1].c_str());
    set("HOME", saved[2].empty() ? nullptr : saved[2].c_str());
    EXPECT_EQ(found, fs::path(row.expected));
}

INSTANTIATE_TEST_SUITE_P(
    Environment, HistoryLocation,
    ::testing::Values(LocationRow{"Chosen", "/srv/bench1.jsonl", "/data", "/home/tech", "/srv/bench1.jsonl"},
                      LocationRow{"DataHome", nullptr, "/data", "/home/tech", "/data/fieldkit/history.jsonl"},
                      LocationRow{"EmptyChoiceIgnored", "", "/data", "/home/tech", "/data/fieldkit/history.jsonl"},
                      LocationRow{"Home", nullptr, nullptr, "/home/tech", "/home/tech/.local/share/fieldkit/history.jsonl"},
                      LocationRow{"RelativeDataHomeIgnored", nullptr, "data", "/home/tech",
                                  "/home/tech/.local/share/fieldkit/history.jsonl"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fieldkit::history
