// The shop database against a real PostgreSQL server, started for these tests in a folder
// of their own: the outbox's bookkeeping, the faults a bench meets, and the fleet report.

#include "shop/fleet.h"
#include "shop/outbox.h"
#include "shop/shop_database.h"

#include "history/history_file.h"
#include "history/history_record.h"
#include "tests/support/environment_variable.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

namespace fieldkit::shop {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string gServerScript;
std::string gServerDir;
std::string gPort;
int gDatabases = 0;

int server(const std::string& arguments)
{
    return std::system((gServerScript + " " + arguments + " > /dev/null").c_str());
}

// A new empty database, so each test sees the tables made from nothing.
std::string newDatabase()
{
    const std::string name = "shop" + std::to_string(++gDatabases);
    EXPECT_EQ(server("sql " + gServerDir + " postgres 'CREATE DATABASE " + name + " OWNER fieldkit'"), 0);
    return "host=127.0.0.1 port=" + gPort + " user=fieldkit dbname=" + name;
}

history::Record runRecord(const std::string& started, std::uint32_t esn, const std::string& command,
                          const std::string& result, const std::string& bench, const std::string& settingsVersion = {},
                          int pages = 0)
{
    history::Record record;
    record["schema"] = 1;
    record["id"] = history::newRecordId();
    record["command"] = command;
    record["started"] = started;
    record["host"] = "host-of-" + bench;
    record["bench"] = bench;
    record["esn"] = esn;
    record["board_version"] = "R07.10.00";
    record["settings_version"] = settingsVersion.empty() ? history::Record() : history::Record(settingsVersion);
    record["result"] = result;
    record["message"] = result == "failure" ? history::Record("Failed to erase block 8.\n\nPlease turn the radio off")
                                            : history::Record();
    record["pages_written"] = pages;
    return record;
}

class Bench {
public:
    explicit Bench(const std::string& name) : file(fs::temp_directory_path() / ("fieldkit-shop-" + name) / "history.jsonl")
    {
        fs::remove_all(file.parent_path());
    }
    ~Bench() { fs::remove_all(file.parent_path()); }
    void append(const history::Record& record) const { ASSERT_FALSE(history::appendRecord(file, record)); }
    void appendLine(const std::string& line) const { std::ofstream(file, std::ios::app | std::ios::binary) << line; }
    std::string contents() const
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    fs::path file;
};

PushReport push(const Bench& bench, const std::string& connection, Bounds bounds = {})
{
    SystemClock clock;
    return pushWaitingRecords(bench.file, connection, clock, bounds);
}

history::HistoryContents stored(const std::string& connection)
{
    SystemClock clock;
    Database database(clock);
    history::HistoryContents contents;
    EXPECT_FALSE(database.open(connection));
    EXPECT_FALSE(database.readRecords({}, &contents));
    return contents;
}

std::multiset<std::string> idsIn(const history::HistoryContents& contents)
{
    std::multiset<std::string> ids;
    for (const auto& record : contents.records)
        ids.insert(record.record.value("id", ""));
    return ids;
}

TEST(Outbox, SendsWhatWaitsOnceAndAgainOnlyWhenTheNoteIsLost)
{
    const std::string connection = newDatabase();
    Bench bench("outbox");
    bench.append(runRecord("2026-03-01T09:00:00Z", 7, "info", "success", "north"));
    // A record from before records had ids: sent under an id made from its line.
    bench.appendLine(R"({"schema":1,"command":"info","started":"2026-02-01T09:00:00Z","host":"old-bench","esn":8,"result":"success"})"
                     "\n");
    bench.appendLine("{\"schema\":1,\"command\":\"upg\n");                  // damaged: skipped, not sent
    bench.appendLine(R"({"schema":1,"command":"info","started":"yesterday","result":"success"})" "\n"); // no time
    bench.append(runRecord("2026-03-01T10:00:00Z", 7, "upgrade", "success", "north", "R09.00.00", 96));

    PushReport first = push(bench, connection);
    ASSERT_FALSE(first.failure) << first.failure->text;
    EXPECT_EQ(first.sent, 3u);
    EXPECT_EQ(first.alreadyStored, 0u);
    EXPECT_EQ(first.skippedLines, 1u);
    EXPECT_EQ(first.unsendable, 1u);
    const auto contents = stored(connection);
    ASSERT_EQ(contents.records.size(), 3u);
    EXPECT_EQ(idsIn(contents).size(), 3u);
    EXPECT_EQ(history::benchOf(contents.records[0].record), "old-bench");

    // Nothing waits now; a crash between sending and noting sends again, stored once.
    EXPECT_EQ(push(bench, connection).sent, 0u);
    fs::remove(sentNoteFile(bench.file));
    const PushReport again = push(bench, connection);
    EXPECT_EQ(again.sent, 3u);
    EXPECT_EQ(again.alreadyStored, 3u);
    EXPECT_EQ(idsIn(stored(connection)), idsIn(contents));

    // Only the new record goes; another database (an empty one) gets them all.
    bench.append(runRecord("2026-03-02T10:00:00Z", 9, "info", "failure", "north"));
    EXPECT_EQ(push(bench, connection).sent, 1u);
    EXPECT_EQ(push(bench, newDatabase()).sent, 4u);
}

TEST(Outbox, RecordsOfARunDuringAnOutageWaitAndAreSentOnceAfterIt)
{
    const std::string connection = newDatabase();
    const testing::EnvironmentVariable named(kDatabaseVariable, connection);
    Bench bench("outage");
    bench.append(runRecord("2026-03-01T09:00:00Z", 7, "info", "success", "north"));
    EXPECT_FALSE(sendWaitingRecords(bench.file));

    ASSERT_EQ(server("pause " + gServerDir), 0);
    bench.append(runRecord("2026-03-01T10:00:00Z", 7, "upgrade", "success", "north", "R09.00.00", 96));
    const std::string before = bench.contents();
    const auto warning = sendWaitingRecords(bench.file);
    ASSERT_EQ(server("resume " + gServerDir), 0);
    ASSERT_TRUE(warning);
    EXPECT_NE(warning->find("The history was not sent to the shop database: the shop database cannot be reached: "),
              std::string::npos) << *warning;
    EXPECT_NE(warning->find("wait on this bench"), std::string::npos);
    EXPECT_EQ(bench.contents(), before);

    const PushReport report = push(bench, connection);
    EXPECT_EQ(report.sent, 1u);
    EXPECT_EQ(report.alreadyStored, 0u);
    EXPECT_EQ(stored(connection).records.size(), 2u);
}

TEST(Outbox, BenchesPushingAtOnceIntoAnEmptyDatabaseStoreEveryRecordOnce)
{
    const std::string connection = newDatabase();
    std::vector<std::unique_ptr<Bench>> benches;
    std::set<std::string> written;
    for (const char* name : {"east", "west"}) {
        benches.push_back(std::make_unique<Bench>(name));
        std::string lines;
        for (int run = 0; run < 1500; ++run) { // more than one batch
            const auto record = runRecord("2026-03-01T09:00:00Z", static_cast<std::uint32_t>(run), "info", "success", name);
            written.insert(record["id"].get<std::string>());
            lines += record.dump() + '\n';
        }
        fs::create_directories(benches.back()->file.parent_path());
        benches.back()->appendLine(lines);
    }
    // Each bench twice, all four at once: the tables are made once, every record stored once.
    std::array<PushReport, 4> reports;
    std::vector<std::thread> pushes;
    for (std::size_t i = 0; i < reports.size(); ++i)
        pushes.emplace_back([&, i] { reports[i] = push(*benches[i % 2], connection); });
    for (auto& thread : pushes)
        thread.join();
    for (const auto& report : reports)
        EXPECT_FALSE(report.failure) << report.failure->text;
    const auto ids = idsIn(stored(connection));
    EXPECT_EQ(ids.size(), 3000u);
    EXPECT_EQ(std::set<std::string>(ids.begin(), ids.end()), written);
}

// A port where the kernel takes connections that nobody ever answers.
class SilentServer {
public:
    SilentServer() : socket_(::socket(AF_INET, SOCK_STREAM, 0))
    {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        EXPECT_EQ(::bind(socket_, reinterpret_cast<sockaddr*>(&address), size), 0);
        EXPECT_EQ(::listen(socket_, 4), 0);
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &size);
        port = ntohs(address.sin_port);
    }
    ~SilentServer() { ::close(socket_); }
    int port = 0;

private:
    int socket_;
};

struct FaultRow {
    const char* name;
    std::string connection; // {port} and {db} stand for the test server's
    const char* password;
    FailureKind kind;
    const char* says;
};

void PrintTo(const FaultRow& row, std::ostream* out)
{
    *out << row.name;
}

class ShopFault : public ::testing::TestWithParam<FaultRow> {};

TEST_P(ShopFault, SaysWhatFailedInBoundedTimeAndKeepsTheRecord)
{
    const FaultRow& row = GetParam();
    const SilentServer silent;
    const auto filled = [&](std::string text) {
        for (const auto& [mark, value] : {std::pair<std::string, std::string>{"{port}", gPort},
                                          {"{silent}", std::to_string(silent.port)}})
            if (const auto at = text.find(mark); at != std::string::npos)
                text.replace(at, mark.size(), value);
        return text;
    };
    const std::string connection = filled(row.connection);
    const testing::EnvironmentVariable password("PGPASSWORD", row.password);
    Bench bench(std::string("fault-") + row.name);
    bench.append(runRecord("2026-03-01T09:00:00Z", 7, "upgrade", "success", "north", "R09.00.00", 96));
    const std::string before = bench.contents();

    const auto start = std::chrono::steady_clock::now();
    const PushReport report = push(bench, connection, Bounds{1000ms, 1000ms});
    const auto took = std::chrono::steady_clock::now() - start;

    ASSERT_TRUE(report.failure);
    EXPECT_EQ(report.failure->kind, row.kind);
    EXPECT_NE(report.failure->text.find(filled(row.says)), std::string::npos) << report.failure->text;
    for (const char* secret : {"bench-secret", "wrong-secret", "in-string-secret"})
        EXPECT_EQ(report.failure->text.find(secret), std::string::npos) << report.failure->text;
    EXPECT_LT(took, 2500ms);
    EXPECT_EQ(report.sent, 0u);
    EXPECT_EQ(bench.contents(), before);
    EXPECT_FALSE(fs::exists(sentNoteFile(bench.file)));
}

INSTANTIATE_TEST_SUITE_P(
    EveryFault, ShopFault,
    ::testing::Values(
        FaultRow{"WrongPassword", "host=127.0.0.1 port={port} user=fieldkit dbname=shop", "wrong-secret",
                 FailureKind::Connect, "password authentication failed for user \"fieldkit\""},
        FaultRow{"UnknownDatabase", "postgresql://fieldkit@127.0.0.1:{port}/nosuch", "bench-secret", FailureKind::Connect,
                 "database \"nosuch\" does not exist"},
        FaultRow{"NobodyListening", "host=127.0.0.1 port=1 user=fieldkit", "bench-secret", FailureKind::Connect,
                 "the shop database cannot be reached: connection to server at \"127.0.0.1\", port 1 failed"},
        FaultRow{"BadConnectionString", "host=127.0.0.1 port", "bench-secret", FailureKind::BadConnectionString,
                 "connection string cannot be read: missing \"=\" after \"port\""},
        FaultRow{"PasswordInString", "host=127.0.0.1 port={port} password=in-string-secret", "bench-secret",
                 FailureKind::PasswordInString, "put it in the password file"},
        FaultRow{"SilentServer", "host=127.0.0.1 port={silent} user=fieldkit", "bench-secret", FailureKind::Timeout,
                 "the shop database at 127.0.0.1:{silent}/fieldkit did not answer the connection request within 1 second"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Schema, ADatabaseSetUpByANewerFieldKitIsRefused)
{
    const std::string connection = newDatabase();
    Bench bench("newer");
    bench.append(runRecord("2026-03-01T09:00:00Z", 7, "info", "success", "north"));
    ASSERT_FALSE(push(bench, connection).failure);
    ASSERT_EQ(server("sql " + gServerDir + " shop" + std::to_string(gDatabases) + " 'UPDATE fieldkit_schema SET version = 2'"), 0);
    bench.append(runRecord("2026-03-01T10:00:00Z", 7, "info", "success", "north"));
    const PushReport report = push(bench, connection);
    ASSERT_TRUE(report.failure);
    EXPECT_EQ(report.failure->kind, FailureKind::NewerSchema);
    EXPECT_NE(report.failure->text.find("tables are of version 2, set up by a newer FieldKit"), std::string::npos);
}

TEST(Fleet, ShowsEachRadiosLatestRunAndWithAVersionTheRadiosStillToDo)
{
    const std::string connection = newDatabase();
    Bench north("north"), south("south");
    // Radio 1: upgraded to R09, then read. Radio 2: upgraded to R08, then an upgrade failed.
    // Radio 3: only read. Radio 4: upgraded to R09 last.
    north.append(runRecord("2026-03-01T09:00:00Z", 1, "upgrade", "success", "north", "R09.00.00", 96));
    south.append(runRecord("2026-03-02T09:00:00Z", 1, "info", "success", "south"));
    north.append(runRecord("2026-03-01T09:00:00Z", 2, "upgrade", "success", "north", "R08.00.00", 96));
    south.append(runRecord("2026-03-03T09:00:00Z", 2, "upgrade", "failure", "south", "R09.00.00", 0));
    north.append(runRecord("2026-03-01T11:00:00Z", 3, "info", "success", "north"));
    south.append(runRecord("2026-03-01T09:00:00Z", 4, "upgrade", "failure", "south", "R09.00.00", 0));
    north.append(runRecord("2026-03-04T09:00:00Z", 4, "upgrade", "success", "north", "R09.00.00", 96));
    ASSERT_FALSE(push(north, connection).failure);
    ASSERT_FALSE(push(south, connection).failure);

    SystemClock clock;
    Database database(clock);
    ASSERT_FALSE(database.open(connection));
    std::vector<FleetRow> everyRadio, toDo;
    ASSERT_FALSE(database.readFleet(std::nullopt, &everyRadio));
    ASSERT_FALSE(database.readFleet("R09.00.00", &toDo));

    std::ostringstream table;
    writeFleetTable(table, everyRadio);
    EXPECT_EQ(table.str(),
              "ESN  TIME                  BENCH  COMMAND  BOARD VERSION  FIRMWARE WRITTEN  RESULT   MESSAGE\n"
              "1    2026-03-02T09:00:00Z  south  info     R07.10.00                        success\n"
              "2    2026-03-03T09:00:00Z  south  upgrade  R07.10.00                        failure  Failed to erase block 8. Please turn the radio off\n"
              "3    2026-03-01T11:00:00Z  north  info     R07.10.00                        success\n"
              "4    2026-03-04T09:00:00Z  north  upgrade  R07.10.00      R09.00.00         success\n");
    std::ostringstream csv, json;
    writeFleetCsv(csv, toDo);
    EXPECT_EQ(csv.str(), "esn,started,bench,command,board_version,firmware_written,result,message\r\n"
                         "2,2026-03-03T09:00:00Z,south,upgrade,R07.10.00,,failure,Failed to erase block 8. Please turn the radio off\r\n"
                         "3,2026-03-01T11:00:00Z,north,info,R07.10.00,,success,\r\n");
    writeFleetJson(json, {everyRadio.back()});
    EXPECT_EQ(json.str(), R"({"esn":4,"started":"2026-03-04T09:00:00Z","bench":"north","command":"upgrade",)"
                          R"("board_version":"R07.10.00","firmware_written":"R09.00.00","result":"success","message":null})" "\n");
}

} // namespace
} // namespace fieldkit::shop

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    using namespace fieldkit::shop;
    gServerScript = FIELDKIT_PG_SERVER_SCRIPT;
    gServerDir = "/tmp/fieldkit-shop-server-" + std::to_string(::getpid());
    FILE* started = ::popen((gServerScript + " start " + gServerDir).c_str(), "r");
    char port[16] = {};
    const bool read = started != nullptr && std::fgets(port, sizeof port, started) != nullptr;
    const int status = started != nullptr ? ::pclose(started) : -1;
    if (WIFEXITED(status) && WEXITSTATUS(status) == 77)
        return 77; // the script said why
    if (!read || status != 0) {
        std::fprintf(stderr, "The test server did not start: see %s\n", gServerDir.c_str());
        return 1;
    }
    gPort = std::string(port, std::strcspn(port, "\n"));
    ::setenv("PGPASSWORD", "bench-secret", 1);
    ::unsetenv(kDatabaseVariable);
    const int result = RUN_ALL_TESTS();
    server("stop " + gServerDir);
    return result;
}
