#include "session/hints.h"

#include <gtest/gtest.h>

namespace fieldkit::session {
namespace {

struct AdapterCase {
    const char* name;
    friend void PrintTo(const AdapterCase& c, std::ostream* out) { *out << c.name; }
    std::uint64_t answersTimed;
    std::chrono::microseconds meanTurnaround;
    const char* lost; // what the hint says the run lost, or null for no hint
};

class SlowAdapterHint : public ::testing::TestWithParam<AdapterCase> {};

TEST_P(SlowAdapterHint, SpeaksOnlyWhenLatencyCostTheRunTimeOverEnoughAnswers)
{
    const AdapterCase& c = GetParam();
    link::LinkStatistics statistics;
    statistics.answersTimed = c.answersTimed;
    statistics.requestLineTime = std::chrono::microseconds(600) * c.answersTimed;
    statistics.answerWait = std::chrono::duration_cast<std::chrono::milliseconds>(
        (c.meanTurnaround + std::chrono::microseconds(600)) * c.answersTimed);
    const std::string hint = slowAdapterHint(statistics, "/nonexistent/cable");
    if (c.lost == nullptr) {
        EXPECT_EQ(hint, "");
        return;
    }
    EXPECT_NE(hint.find(std::string("about ") + c.lost + " longer (" + std::to_string(c.answersTimed) + " answers)"),
              std::string::npos)
        << hint;
#ifndef _WIN32
    EXPECT_NE(hint.find("/nonexistent/cable is no USB serial adapter"), std::string::npos) << hint;
#endif
}

INSTANTIATE_TEST_SUITE_P(
    Statistics, SlowAdapterHint,
    ::testing::Values(
        // Every answer of an upgrade one request at a time, through an adapter at 16 ms.
        AdapterCase{"OneAtATimeAt16Ms", 3241, std::chrono::microseconds(16000), "48.6 s"},
        // Streamed writes hide it: only the few requests that go alone wait.
        AdapterCase{"StreamedAt16Ms", 24, std::chrono::microseconds(16000), nullptr},
        AdapterCase{"StoppedEarlyAt300Ms", 5, std::chrono::microseconds(300000), nullptr},
        AdapterCase{"ManyAnswersAt5Ms", 400, std::chrono::microseconds(5000), "1.6 s"},
        AdapterCase{"AGoodCable", 3241, std::chrono::microseconds(3000), nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fieldkit::session
