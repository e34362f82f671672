#include "app/command_line.h"

#include <gtest/gtest.h>

namespace fieldkit::app {
namespace {

struct CommandLineCase {
    const char* name;
    std::vector<std::string> args;
    bool valid;
    bool simulate;
    std::vector<std::string> boardOptions;
};

class CommandLineParsing : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineParsing, TakesSimulationAndPassesBoardOptionsThroughWordByWord)
{
    std::string error;
    const auto line = parseCommandLine(GetParam().args, &error);
    ASSERT_EQ(line.has_value(), GetParam().valid) << error;
    if (!line) {
        EXPECT_FALSE(error.empty());
        return;
    }
    EXPECT_EQ(line->simulate, GetParam().simulate);
    EXPECT_EQ(line->boardOptions, GetParam().boardOptions);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineParsing,
    ::testing::Values(
        CommandLineCase{"Nothing", {}, true, false, {}},
        CommandLineCase{"Simulate", {"--simulate"}, true, true, {}},
        CommandLineCase{"OptionStartingWithDashes", {"--simulate", "--sim-option", "--no-ping"}, true, true, {"--no-ping"}},
        CommandLineCase{"OptionWithValueInOneWord",
                        {"--simulate", "--sim-option", "--esn 0x80000000", "--sim-option=--variant-flag 1"},
                        true,
                        true,
                        {"--esn", "0x80000000", "--variant-flag", "1"}},
        CommandLineCase{"BoardOptionWithoutSimulation", {"--sim-option", "--no-ping"}, false, false, {}},
        CommandLineCase{"SimOptionWithoutValue", {"--simulate", "--sim-option"}, false, false, {}},
        CommandLineCase{"UnknownArgument", {"--flash-now"}, false, false, {}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fieldkit::app
