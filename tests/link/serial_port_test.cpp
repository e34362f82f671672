#include "link/board_connection.h"
#include "link/serial_board_link.h"
#include "link/serial_port.h"
#include "tests/link/frame_board.h"
#include "tests/link/pseudo_terminal.h"
#include "tests/support/fake_clock.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <mutex>
#include <string>

namespace fieldkit::link {
namespace {

// The whole host side on a real line: board connection, link and serial channel, with the
// device named by the port mapping, and a frame-level board on the far end of a pseudo-terminal.
class LinkOverPseudoTerminal : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::filesystem::create_symlink(pty.slavePath(), dir.path() / "ttyCable");
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

    // Only COM3 leads to the cable, so a link that opened another port would fail.
    ChannelFactory channels()
    {
        return serialPortChannels(
            [cable = (dir.path() / "ttyCable").string()](int port) { return port == 3 ? cable : std::string(); });
    }

    testing::TempDir dir;
    std::mutex boardMutex;
    FrameBoard board;
    PseudoTerminal pty; // last, so that its responder stops before the board goes
};

TEST_F(LinkOverPseudoTerminal, BoardInformationReadsVersionAndEsn)
{
    SerialBoardLink link(channels());
    testing::FakeClock clock;
    BoardConnection connection(link, clock);
    ASSERT_EQ(connection.open(3, false, nullptr), std::nullopt) << link.details().lastOpen.detail;
    ASSERT_TRUE(connection.readFirmwareVersion(false));
    ASSERT_TRUE(connection.readEsn());
    connection.close();

    EXPECT_EQ(connection.identity().boardVersionText, "R07.12.00  ");
    EXPECT_EQ(connection.identity().esnText, "-2147483647");
    EXPECT_EQ(link.statistics().requests, 3u);
}

TEST_F(LinkOverPseudoTerminal, GarbledAnswersAreResentAndAPageLandsOnce)
{
    SerialBoardLink link(channels());
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
    SerialBoardLink link(channels());
    testing::FakeClock clock;
    BoardConnection connection(link, clock);
    EXPECT_EQ(connection.open(3, false, nullptr), (ConnectionFailure{FailureKind::OpenPort, kOpenPortFailed}));
    EXPECT_EQ(link.details().lastOpen.failure, wire::OpenFailure::NotFound);
    EXPECT_NE(link.details().lastOpen.detail.find("ttyCable"), std::string::npos);
}

} // namespace
} // namespace fieldkit::link
