#pragma once

#include "app/fieldkit_app.h"
#include "app/main_frame.h"
#include "app/program_ending.h"
#include "app/upgrade_doc.h"
#include "app/upgrade_view.h"
#include "link/serial_board_link.h"
#include "sim/board_endpoint.h"
#include "sim/board_options.h"
#include "sim/in_memory_channel.h"
#include "tests/app/modal_answerer.h"

#include <QGuiApplication>
#include <QTest>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.toStdString() << '"';
}
QT_END_NAMESPACE

namespace fieldkit::app {

// An emulated board on in-memory lines. Counts the lines the program holds open, and can
// hold the program's Nth write on the line until the test lets it go.
class EmulatedBoard {
public:
    explicit EmulatedBoard(const sim::BoardOptions& options = {}) : endpoint_(options) {}

    BoardLinkFactory links()
    {
        return [this]() -> std::unique_ptr<link::BoardLink> {
            return std::make_unique<link::SerialBoardLink>(
                [this](int) -> std::unique_ptr<wire::ByteChannel> { return std::make_unique<Line>(*this); });
        };
    }

    int openLines() const { return openLines_.load(); }
    int opens() const { return opens_.load(); }
    int writes() const { return writes_.load(); }
    const sim::BoardEndpoint& endpoint() const { return endpoint_; }

    // The write number `writeNumber` (counted from 1) waits until release().
    void holdWrite(int writeNumber) { holdAt_ = writeNumber; }
    bool holding() const { return holding_.load(); }
    void release()
    {
        {
            const std::lock_guard lock(mutex_);
            released_ = true;
        }
        wake_.notify_all();
    }

private:
    class Line final : public wire::ByteChannel {
    public:
        explicit Line(EmulatedBoard& board) : board_(board), line_(board.endpoint_) {}
        ~Line() override { close(); }

        wire::OpenResult open() override
        {
            wire::OpenResult result = line_.open();
            if (result.ok()) {
                ++board_.opens_;
                ++board_.openLines_;
            }
            return result;
        }
        void close() override
        {
            if (line_.isOpen())
                --board_.openLines_;
            line_.close();
        }
        bool isOpen() const override { return line_.isOpen(); }
        bool write(std::span<const std::uint8_t> bytes) override
        {
            if (++board_.writes_ == board_.holdAt_)
                board_.hold();
            return line_.write(bytes);
        }
        std::size_t read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override
        {
            return line_.read(into, timeout);
        }
        void discardInput() override { line_.discardInput(); }

    private:
        EmulatedBoard& board_;
        sim::InMemoryChannel line_;
    };

    void hold()
    {
        std::unique_lock lock(mutex_);
        holding_ = true;
        wake_.wait(lock, [this] { return released_; });
        holding_ = false;
    }

    sim::BoardEndpoint endpoint_;
    std::atomic<int> openLines_{0};
    std::atomic<int> opens_{0};
    std::atomic<int> writes_{0};
    std::atomic<int> holdAt_{-1};
    std::atomic<bool> holding_{false};
    std::mutex mutex_;
    std::condition_variable wake_;
    bool released_ = false;
};

#ifdef _WIN32
inline constexpr bool kOnWindows = true;
#else
inline constexpr bool kOnWindows = false;
#endif

// Measures of text need the system's fonts. Under Wine the desktop tests run on Qt's offscreen
// platform, which has no Windows font database and draws a fallback font of other sizes; the
// window with its real fonts is checked there by the desktop end-to-end test.
#define skipWithoutTheSystemsFonts()                                                                    \
    do {                                                                                                  \
        if (kOnWindows && QGuiApplication::platformName() == QLatin1String("offscreen"))                  \
            GTEST_SKIP() << "no system fonts on the offscreen platform of Windows";                       \
    } while (false)

// Each test runs in a fresh current directory, where the program finds AppConfig.ini and
// Info.txt.
class AppTest : public ::testing::Test {
protected:
    AppTest()
    {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = "fieldkit-app-" + std::string(test->test_suite_name()) + "-" + test->name();
        std::replace(name.begin(), name.end(), '/', '_');
        directory_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(directory_);
        std::filesystem::create_directories(directory_);
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(directory_);
    }
    ~AppTest() override
    {
        app_.reset();
        std::filesystem::current_path(previous_);
        std::filesystem::remove_all(directory_);
    }

    static void writeFile(const std::filesystem::path& file, const std::string& content)
    {
        std::ofstream(file, std::ios::binary) << content;
    }
    static std::string readFile(const std::filesystem::path& file)
    {
        std::ifstream stream(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    }

    CFieldKitApp& start(FrameServices services = {})
    {
        app_ = std::make_unique<CFieldKitApp>(std::move(services));
        app_->InitInstance();
        return *app_;
    }
    CMainFrame& frame() { return *app_->GetMainWnd(); }
    CUpgradeView& view() { return *app_->GetView(); }
    QString caption() { return frame().windowTitle(); }

    // Services for an upgrade against `board` with the sample firmware, costing no real time.
    FrameServices emulated(EmulatedBoard& board, Clock& clock)
    {
        FrameServices services;
        services.makeLink = board.links();
        services.clock = &clock;
        services.firmwareDirectory = FIELDKIT_EXAMPLES_DIR;
        return services;
    }

    std::unique_ptr<CFieldKitApp> app_;

private:
    std::filesystem::path directory_;
    std::filesystem::path previous_;
};

// Makes `window` the active window, as a user's click would, so its keyboard commands work.
inline void activate(QWidget& window)
{
    window.show();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));
}

// Lets the event loop run until `done` holds or `seconds` pass.
template <typename Predicate>
bool waitFor(Predicate done, int seconds = 20)
{
    return QTest::qWaitFor(done, seconds * 1000);
}

// The desktop session's question before it ends, as a session manager would ask it.
class AskingSession final : public SessionEndRequest {
public:
    explicit AskingSession(bool mayAsk) : mayAsk_(mayAsk) {}
    bool allowsInteraction() override { return mayAsk_; }
    void cancel() override { cancelled = true; }
    bool cancelled = false;

private:
    bool mayAsk_;
};

} // namespace fieldkit::app
