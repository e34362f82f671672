#include "link/board_connection.h"
#include "link/serial_board_link.h"
#include "link/serial_port.h"
#include "tests/link/frame_board.h"
#include "tests/link/pseudo_terminal.h"
#include "tests/support/fake_clock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <string>

namespace fieldkit::link {
namespace {

class ScratchDirectory {
public:
    ScratchDirectory()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "fieldkit-ports-XXXXXX").string();
        path_ = ::mkdtemp(pattern.data());
    }
    ~ScratchDirectory() { std::filesystem::remove_all(path_); }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

// Sets one environment variable for as long as it lives.
class EnvironmentVariable {
public:
    EnvironmentVariable(std::string name, const std::optional<std::string>& value) : name_(std::move(name))
    {
        if (const char* old = std::getenv(name_.c_str()))
            old_ = old;
        if (value)
            ::setenv(name_.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ~EnvironmentVariable()
    {
        if (old_)
            ::setenv(name_.c_str(), old_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }

private:
    std::string name_;
    std::optional<std::string> old_;
};

std::filesystem::path writeSettings(const std::filesystem::path& dir, const std::string& content)
{
    const auto file = dir / "AppConfig.ini";
    std::ofstream(file, std::ios::binary) << content;
    return file;
}

struct MappingCase {
    const char* name;
    std::optional<std::string> environment; // FIELDKIT_COM2
    std::optional<std::string> setting;     // SerialDevices/COM2
    std::string device;
};

void PrintTo(const MappingCase& c, std::ostream* os) { *os << c.name; }

class DeviceForPort : public ::testing::TestWithParam<MappingCase> {};

TEST_P(DeviceForPort, EnvironmentGoesBeforeSettingsBeforeThePlatformDefault)
{
    const MappingCase& c = GetParam();
    ScratchDirectory dir;
    const auto file = writeSettings(dir.path(), "[SerialPort]\nPortNumber=COM2\n[SerialDevices]\nCOM1=/dev/ttyACM9\n" +
                                                    (c.setting ? "COM2=" + *c.setting + "\n" : std::string()));
    EnvironmentVariable variable("FIELDKIT_COM2", c.environment);
    EnvironmentVariable otherPort("FIELDKIT_COM3", "/dev/ttyUSB7");
    EXPECT_EQ(deviceForPort(2, file), c.device);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, DeviceForPort,
    ::testing::Values(MappingCase{"EnvironmentAndSetting", "/dev/pts/5", "/dev/ttyUSB0", "/dev/pts/5"},
                      MappingCase{"SettingOnly", std::nullopt, "/dev/ttyUSB0", "/dev/ttyUSB0"},
                      MappingCase{"EmptyEnvironment", "", "/dev/ttyUSB0", "/dev/ttyUSB0"},
                      MappingCase{"Neither", std::nullopt, std::nullopt, "/dev/ttyS1"},
                      MappingCase{"EmptySetting", std::nullopt, "", "/dev/ttyS1"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(DeviceForPortDefaults, AreTtyS0ToS3WithoutAnyFileAndNothingOutsideOneToFour)
{
    const std::filesystem::path missing = "/nonexistent/AppConfig.ini";
    for (int port = 1; port <= 4; ++port) {
        EnvironmentVariable unset("FIELDKIT_COM" + std::to_string(port), std::nullopt);
        EXPECT_EQ(deviceForPort(port, missing), "/dev/ttyS" + std::to_string(port - 1));
    }
    EnvironmentVariable zero("FIELDKIT_COM0", "/dev/pts/1");
    EXPECT_EQ(deviceForPort(0, missing), "");
    EXPECT_EQ(deviceForPort(5, missing), "");
}

// The whole host side on a real line: board connection, link and serial channel, with the
// device named in the settings, and a frame-level board on the far end of a pseudo-terminal.
class LinkOverPseudoTerminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_symlink(pty.slavePath(), dir.path() / "ttyCable");
        settings = writeSettings(dir.path(), "[SerialDevices]\nCOM3=" + (dir.path() / "ttyCable").string() + "\n");
        const std::array<std::uint8_t, 4> esn{0x01, 0x00, 0x00, 0x80};
        std::copy(esn.begin(), esn.end(), board.memory.begin() + ADDR_ESN);
        const std::string version = "R07.12.00  ";
        std::copy(version.begin(), version.end(), board.memory.begin() + ADDR_FIRMWARE_VERSION);
        pty.startResponder(
            [this](std::span<const std::uint8_t> bytes) {
                std::lock_guard lock(boardMutex);
                return board.receive(bytes);
            },
            [this] {
                std::lock_guard lock(boardMutex);
                board.decoder.gap();
            });
    }

    void TearDown() override { pty.stopResponder(); }

    EnvironmentVariable unmapped{"FIELDKIT_COM3", std::nullopt};
    ScratchDirectory dir;
    std::filesystem::path settings;
    std::mutex boardMutex;
    FrameBoard board;
    PseudoTerminal pty; // last, so that its responder stops before the board goes
};

TEST_F(LinkOverPseudoTerminal, BoardInformationReadsVersionAndEsn)
{
    SerialBoardLink link(serialPortChannels(settings));
    testing::FakeClock clock;
    BoardConnection connection(link, clock);
    ASSERT_EQ(connection.open(3, false, nullptr), std::nullopt) << link.lastOpenResult().detail;
    ASSERT_TRUE(connection.readFirmwareVersion(false));
    ASSERT_TRUE(connection.readEsn());
    connection.close();

    EXPECT_EQ(connection.identity().boardVersionText, "R07.12.00  ");
    EXPECT_EQ(connection.identity().esnText, "-2147483647");
    EXPECT_EQ(link.statistics().requests, 3u);
}

TEST_F(LinkOverPseudoTerminal, GarbledAnswersAreResentAndAPageLandsOnce)
{
    SerialBoardLink link(serialPortChannels(settings));
    testing::FakeClock clock;
    BoardConnection connection(link, clock);
    ASSERT_EQ(connection.open(3, true, nullptr), std::nullopt);
    {
        std::lock_guard lock(boardMutex);
        board.faults = {Fault::CorruptAnswer, Fault::LoseAnswer, Fault::GarbageFirst};
    }
    std::vector<std::uint8_t> page(256);
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<std::uint8_t>(i * 7);
    EXPECT_EQ(link.WriteDataOnly(3, page.data(), 0x0000, 256, 0), 0);
    connection.close();

    std::lock_guard lock(boardMutex);
    EXPECT_GE(link.statistics().retries, 3u); // one per fault, more only on a badly overloaded machine
    EXPECT_EQ(board.writesTo(0x0000), 1u);
    EXPECT_TRUE(std::equal(page.begin(), page.end(), board.memory.begin()));
}

TEST_F(LinkOverPseudoTerminal, AMissingDeviceIsReportedAsNotFound)
{
    std::filesystem::remove(dir.path() / "ttyCable");
    SerialBoardLink link(serialPortChannels(settings));
    testing::FakeClock clock;
    BoardConnection connection(link, clock);
    EXPECT_EQ(connection.open(3, false, nullptr), (ConnectionFailure{FailureKind::OpenPort, kOpenPortFailed}));
    EXPECT_EQ(link.lastOpenResult().failure, wire::OpenFailure::NotFound);
    EXPECT_NE(link.lastOpenResult().detail.find("ttyCable"), std::string::npos);
}

} // namespace
} // namespace fieldkit::link
