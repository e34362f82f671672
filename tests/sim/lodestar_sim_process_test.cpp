// lodestar-sim as a user runs it: a process that serves the board until it is told to stop.

#include "sim/flash_file.h"

#include "tests/sim/raw_client.h"
#include "tests/sim/sim_test_support.h"

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace fieldkit::sim {
namespace {

using namespace std::chrono_literals;

// A child process with its output in files, killed if a test leaves it running.
class SimProcess {
public:
    SimProcess(const TempDir& dir, std::vector<std::string> args)
        : out_(dir.file("stdout.txt")), err_(dir.file("stderr.txt"))
    {
        args.insert(args.begin(), LODESTAR_SIM_PATH);
        std::vector<char*> argv;
        for (auto& arg : args)
            argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~SimProcess()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }

    bool started() const { return pid_ > 0; }
    void signal(int number) const { ::kill(pid_, number); }

    // The exit status, or nothing when the process has not ended within `limit`.
    std::optional<int> waitForExit(std::chrono::milliseconds limit = 5s)
    {
        const auto giveUpAt = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < giveUpAt) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            }
            std::this_thread::sleep_for(5ms);
        }
        return std::nullopt;
    }

    std::string output() const { return contents(out_); }
    std::string errors() const { return contents(err_); }

private:
    static std::string contents(const std::string& path)
    {
        std::ostringstream text;
        text << std::ifstream(path).rdbuf();
        return text.str();
    }

    pid_t pid_ = -1;
    std::string out_;
    std::string err_;
};

bool waitForPath(const std::string& path, std::chrono::milliseconds limit = 5s)
{
    const auto giveUpAt = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(path)) {
        if (std::chrono::steady_clock::now() > giveUpAt)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

TEST(LodestarSimProcess, AnswersAPingAndOnSigtermPrintsCountersAndDumpsTheFlash)
{
    TempDir dir;
    const std::string link = dir.file("lodestar");
    const std::string dump = dir.file("flash.bin");
    const std::string log = dir.file("requests.log");
    SimProcess sim(dir, {"--link", link, "--dump-flash", dump, "--esn", "0x12345678", "--request-log", log});
    ASSERT_TRUE(sim.started());
    ASSERT_TRUE(waitForPath(link)) << sim.errors();

    {
        RawClient client(link);
        const auto payload = goodPingPayload();
        client.send(frameOf(wire::FrameKind::Ping, 0, 0, payload.size(), payload));
        const auto answer = client.receive(17);
        ASSERT_EQ(answer.size(), 17u);
        EXPECT_EQ(answer[0], wire::kAck);
        EXPECT_EQ(std::string(answer.begin() + 1, answer.begin() + 9), "LODESTAR");
        client.send(frameOf(wire::FrameKind::Read, 1, ADDR_ESN, 4));
        EXPECT_EQ(client.receive(7),
                  wire::encodeDataAnswer(wire::kAck, makeRequest(wire::FrameKind::Read, 1, ADDR_ESN, 4),
                                         std::vector<std::uint8_t>{0x78, 0x56, 0x34, 0x12}));
    }

    sim.signal(SIGTERM);
    EXPECT_EQ(sim.waitForExit(), 0) << sim.errors();
    const std::string output = sim.output();
    EXPECT_NE(output.find("lodestar-sim: board on /dev/pts/"), std::string::npos) << output;
    EXPECT_NE(output.find("requests 2"), std::string::npos) << output;
    EXPECT_NE(output.find("wire bytes in 36, out 24"), std::string::npos) << output;
    EXPECT_NE(output.find("retries (repeated requests) 0"), std::string::npos) << output;
    EXPECT_TRUE(allBytesAre(readFlashFile(dump), 0xFF));
    std::ifstream requests(log);
    std::string ping, esn;
    std::getline(requests, ping);
    std::getline(requests, esn);
    EXPECT_EQ(ping.substr(0, 14), "ping 0x0000 24") << ping;
    EXPECT_NE(ping.find(" executed ack 4C4F444553544152"), std::string::npos) << ping;
    EXPECT_EQ(esn, "read 0x0500 4 - executed ack 78563412");
    EXPECT_FALSE(std::filesystem::is_symlink(link));
}

TEST(LodestarSimProcess, SigintEndsItCleanlyToo)
{
    TempDir dir;
    const std::string link = dir.file("lodestar");
    SimProcess sim(dir, {"--link", link});
    ASSERT_TRUE(sim.started());
    ASSERT_TRUE(waitForPath(link)) << sim.errors();
    sim.signal(SIGINT);
    EXPECT_EQ(sim.waitForExit(), 0) << sim.errors();
    EXPECT_NE(sim.output().find("requests 0"), std::string::npos) << sim.output();
}

TEST(LodestarSimProcess, ABadOptionEndsItAtOnceWithAUsageError)
{
    TempDir dir;
    SimProcess sim(dir, {"--fail-read-len", "0x0D00"});
    ASSERT_TRUE(sim.started());
    const auto status = sim.waitForExit();
    ASSERT_TRUE(status.has_value());
    EXPECT_NE(*status, 0);
    EXPECT_NE(sim.errors().find("--fail-read-len"), std::string::npos) << sim.errors();
}

} // namespace
} // namespace fieldkit::sim
