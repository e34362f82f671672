// One QApplication for the whole test program, on the offscreen platform unless the
// environment chose another.

#include <QApplication>

#include <gtest/gtest.h>

#include <memory>

namespace fieldkit::app {
namespace {

class QtApplicationEnvironment final : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        application_ = std::make_unique<QApplication>(argc_, argv_);
        // Tests close many windows; none of that should end an event loop.
        QApplication::setQuitOnLastWindowClosed(false);
    }
    void TearDown() override { application_.reset(); }

private:
    int argc_ = 1;
    char name_[10] = "app_tests";
    char* argv_[2] = {name_, nullptr};
    std::unique_ptr<QApplication> application_;
};

[[maybe_unused]] ::testing::Environment* const registered =
    ::testing::AddGlobalTestEnvironment(new QtApplicationEnvironment);

} // namespace
} // namespace fieldkit::app
