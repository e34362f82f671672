#include "link/line_profile.h"
#include "link/qt_serial_channel.h"
#include "tests/link/pseudo_terminal.h"
#include "tests/support/temp_folder.h"

#include <QCoreApplication>
#include <QThread>
#include <QtGlobal>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>
#include <sys/stat.h>
#include <vector>

namespace fieldkit::link {
namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kPatience = 2000ms; // only ever reached when a test fails

Bytes plusOne(std::span<const std::uint8_t> bytes)
{
    Bytes answer(bytes.begin(), bytes.end());
    for (auto& byte : answer)
        ++byte;
    return answer;
}

Bytes readBytes(wire::ByteChannel& channel, std::size_t count, std::chrono::milliseconds timeout)
{
    Bytes into(count);
    into.resize(channel.read(into, timeout));
    return into;
}

// Collects whatever Qt would print (warnings about threads and notifiers above all).
class QtMessageLog {
public:
    QtMessageLog() { previous_ = qInstallMessageHandler(&QtMessageLog::collect); }
    ~QtMessageLog() { qInstallMessageHandler(previous_); }
    std::vector<std::string> messages()
    {
        std::lock_guard lock(mutex_);
        return messages_;
    }

private:
    static void collect(QtMsgType, const QMessageLogContext&, const QString& message)
    {
        std::lock_guard lock(mutex_);
        messages_.push_back(message.toStdString());
    }

    QtMessageHandler previous_;
    static inline std::mutex mutex_;
    static inline std::vector<std::string> messages_;
};

TEST(QtSerialChannel, BytesGoBothWaysThroughAPseudoTerminal)
{
    PseudoTerminal pty;
    pty.startResponder(plusOne);
    QtSerialChannel channel(pty.slavePath(), kQm7731BaudRate);
    ASSERT_TRUE(channel.open().ok());
    EXPECT_TRUE(channel.isOpen());

    const Bytes sent{0x00, 0x06, 0x15, 0xFE};
    ASSERT_TRUE(channel.write(sent));
    EXPECT_EQ(readBytes(channel, 4, kPatience), (Bytes{0x01, 0x07, 0x16, 0xFF}));
    channel.close();
    EXPECT_FALSE(channel.isOpen());
}

TEST(QtSerialChannel, AReadReturnsWhatArrivedWhenItsTimeIsUp)
{
    PseudoTerminal pty;
    QtSerialChannel channel(pty.slavePath(), kQm7731BaudRate);
    ASSERT_TRUE(channel.open().ok());
    EXPECT_TRUE(readBytes(channel, 8, 30ms).empty());

    pty.writeMaster(Bytes{9, 8, 7});
    EXPECT_EQ(readBytes(channel, 8, 300ms), (Bytes{9, 8, 7}));
}

TEST(QtSerialChannel, DiscardInputDropsWhatIsWaiting)
{
    PseudoTerminal pty;
    QtSerialChannel channel(pty.slavePath(), kQm7731BaudRate);
    ASSERT_TRUE(channel.open().ok());
    pty.writeMaster(Bytes{1, 2, 3, 4});
    ASSERT_EQ(readBytes(channel, 1, kPatience), Bytes{1}); // the rest has arrived with it
    channel.discardInput();
    EXPECT_TRUE(readBytes(channel, 8, 50ms).empty());

    pty.writeMaster(Bytes{5});
    EXPECT_EQ(readBytes(channel, 1, kPatience), Bytes{5});
}

TEST(QtSerialChannel, OpensThroughASymlinkToThePort)
{
    PseudoTerminal pty;
    pty.startResponder(plusOne);
    testing::TempDir dir;
    const auto link = dir.path() / "ttyCable";
    std::filesystem::create_symlink(pty.slavePath(), link);
    QtSerialChannel channel(link.string(), kQm7731BaudRate);
    ASSERT_TRUE(channel.open().ok());
    ASSERT_TRUE(channel.write(Bytes{0x41}));
    EXPECT_EQ(readBytes(channel, 1, kPatience), Bytes{0x42});
}

struct OpenFailureCase {
    const char* name;
    std::function<std::string(const std::filesystem::path& scratch)> device;
    wire::OpenFailure failure;
};

void PrintTo(const OpenFailureCase& c, std::ostream* os) { *os << c.name; }

class QtSerialChannelOpenFailure : public ::testing::TestWithParam<OpenFailureCase> {};

TEST_P(QtSerialChannelOpenFailure, NamesTheReasonAndLeavesTheChannelClosed)
{
    testing::TempDir scratch;
    const std::string device = GetParam().device(scratch.path());
    QtSerialChannel channel(device, kQm7731BaudRate);
    const wire::OpenResult result = channel.open();
    EXPECT_EQ(result.failure, GetParam().failure) << result.detail;
    EXPECT_NE(result.detail.find(device), std::string::npos) << result.detail;
    EXPECT_FALSE(channel.isOpen());
    EXPECT_FALSE(channel.write(Bytes{1}));
    EXPECT_TRUE(readBytes(channel, 1, 10ms).empty());
}

INSTANTIATE_TEST_SUITE_P(
    Devices, QtSerialChannelOpenFailure,
    ::testing::Values(
        OpenFailureCase{"Missing", [](const auto& dir) { return (dir / "ttyNone").string(); },
                        wire::OpenFailure::NotFound},
        OpenFailureCase{"Unnamed", [](const auto&) { return std::string(); }, wire::OpenFailure::NotFound},
        OpenFailureCase{"Directory", [](const auto& dir) { return dir.string(); }, wire::OpenFailure::NotASerialPort},
        OpenFailureCase{"RegularFile",
                        [](const auto& dir) {
                            const auto file = dir / "corvo_boot.s19";
                            std::ofstream(file) << "S00600004844521B\n";
                            return file.string();
                        },
                        wire::OpenFailure::NotASerialPort}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(QtSerialChannel, ACharacterDeviceThatIsNoTerminalIsNotASerialPort)
{
    QtSerialChannel channel("/dev/null", kQm7731BaudRate);
    wire::OpenResult result = channel.open();
    // Whoever else tries /dev/null as a serial port at this moment holds its lock for a few
    // milliseconds, which reads as busy.
    for (int attempt = 0; attempt < 50 && result.failure == wire::OpenFailure::Busy; ++attempt) {
        std::this_thread::sleep_for(10ms);
        result = channel.open();
    }
    EXPECT_EQ(result.failure, wire::OpenFailure::NotASerialPort) << result.detail;
    EXPECT_FALSE(channel.isOpen());
}

TEST(QtSerialChannel, APortInUseIsBusy)
{
    PseudoTerminal pty;
    QtSerialChannel first(pty.slavePath(), kQm7731BaudRate);
    ASSERT_TRUE(first.open().ok());
    QtSerialChannel second(pty.slavePath(), kQm7731BaudRate);
    const wire::OpenResult result = second.open();
    EXPECT_EQ(result.failure, wire::OpenFailure::Busy) << result.detail;
    EXPECT_FALSE(second.isOpen());

    first.close();
    EXPECT_TRUE(second.open().ok());
}

TEST(QtSerialChannel, APortWithoutAccessIsPermissionDenied)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may open any device";
    PseudoTerminal pty;
    ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0), 0);
    QtSerialChannel channel(pty.slavePath(), kQm7731BaudRate);
    EXPECT_EQ(channel.open().failure, wire::OpenFailure::PermissionDenied);
}

TEST(QtSerialChannel, APeerThatHungUpFailsWritesAndReadsWithoutHanging)
{
    PseudoTerminal pty;
    QtSerialChannel channel(pty.slavePath(), kQm7731BaudRate);
    ASSERT_TRUE(channel.open().ok());
    pty.closeMaster();
    EXPECT_FALSE(channel.write(Bytes(64, 0x55)));
    EXPECT_TRUE(readBytes(channel, 4, 100ms).empty());
    channel.discardInput();
    channel.close();
    EXPECT_FALSE(channel.isOpen());
}

void roundTrip(const std::string& device)
{
    QtSerialChannel channel(device, kQm7731BaudRate);
    ASSERT_TRUE(channel.open().ok());
    ASSERT_TRUE(channel.write(Bytes{0x10, 0x20}));
    EXPECT_EQ(readBytes(channel, 2, kPatience), (Bytes{0x11, 0x21}));
}

TEST(QtSerialChannel, WorksFromAnyThreadWithOrWithoutAnApplicationAndQtHasNothingToSay)
{
    PseudoTerminal pty;
    pty.startResponder(plusOne);
    QtMessageLog log;

    roundTrip(pty.slavePath());
    std::thread([&] { roundTrip(pty.slavePath()); }).join();
    std::unique_ptr<QThread> qtThread(QThread::create([&] { roundTrip(pty.slavePath()); }));
    qtThread->start();
    qtThread->wait();
    {
        int argc = 1;
        char name[] = "link_tests";
        char* argv[] = {name, nullptr};
        QCoreApplication application(argc, argv);
        roundTrip(pty.slavePath());
        std::thread([&] { roundTrip(pty.slavePath()); }).join();
    }
    EXPECT_EQ(log.messages(), std::vector<std::string>{});
}

} // namespace
} // namespace fieldkit::link
