#include "app/command_line.h"

#include <gtest/gtest.h>

#include <sstream>

namespace fieldkit::app {
namespace {

constexpr int kRuns = -1;

struct CommandLineCase {
    const char* name;
    std::vector<std::string> args;
    int exitStatus; // kRuns when the program goes on
    bool simulate;
    std::vector<std::string> boardOptions;
    std::optional<std::filesystem::path> workFolder;
    std::optional<std::vector<int>> bench = {};
};

class CommandLineParsing : public ::testing::TestWithParam<CommandLineCase> {};

TEST_P(CommandLineParsing, TakesSimulationBoardOptionsWordByWordAndTheWorkFolder)
{
    std::ostringstream out;
    std::ostringstream err;
    int exitStatus = kRuns;
    const auto line = parseCommandLine(GetParam().args, out, err, &exitStatus);
    ASSERT_EQ(line.has_value(), GetParam().exitStatus == kRuns) << err.str();
    if (!line) {
        EXPECT_EQ(exitStatus, GetParam().exitStatus);
        // Help on the standard output, a usage error on the error output.
        EXPECT_NE((exitStatus == 0 ? out : err).str(), "");
        EXPECT_EQ((exitStatus == 0 ? err : out).str(), "");
        return;
    }
    EXPECT_EQ(line->simulate, GetParam().simulate);
    EXPECT_EQ(line->boardOptions, GetParam().boardOptions);
    EXPECT_EQ(line->workFolder, GetParam().workFolder);
    EXPECT_EQ(line->bench, GetParam().bench);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CommandLineParsing,
    ::testing::Values(
        CommandLineCase{"Nothing", {}, kRuns, false, {}, {}},
        CommandLineCase{"Simulate", {"--simulate"}, kRuns, true, {}, {}},
        CommandLineCase{"OptionStartingWithDashes", {"--simulate", "--sim-option", "--no-ping"}, kRuns, true, {"--no-ping"}, {}},
        CommandLineCase{"OptionWithValueInOneWord",
                        {"--simulate", "--sim-option", "--esn 0x80000000", "--sim-option=--variant-flag 1"},
                        kRuns,
                        true,
                        {"--esn", "0x80000000", "--variant-flag", "1"},
                        {}},
        CommandLineCase{"StandardWorkFolder", {"--work-folder"}, kRuns, false, {}, std::filesystem::path()},
        CommandLineCase{"StandardWorkFolderBeforeAnotherOption", {"--work-folder", "--simulate"}, kRuns, true, {},
                        std::filesystem::path()},
        CommandLineCase{"NamedWorkFolder", {"--work-folder", "/srv/bench 2"}, kRuns, false, {}, "/srv/bench 2"},
        CommandLineCase{"BenchOfTheSettings", {"--bench", "--simulate"}, kRuns, true, {}, {}, std::vector<int>{}},
        CommandLineCase{"BenchPorts", {"--bench", "1,3"}, kRuns, false, {}, {}, std::vector<int>{1, 3}},
        CommandLineCase{"BenchPortsAsSettingsWriteThem", {"--bench=COM4, com2"}, kRuns, false, {}, {}, std::vector<int>{4, 2}},
        CommandLineCase{"BenchPortOutOfRange", {"--bench", "1,5"}, 2, false, {}, {}},
        CommandLineCase{"BenchPortTwice", {"--bench", "2,2"}, 2, false, {}, {}},
        CommandLineCase{"BenchPortsWithAGap", {"--bench", "1,,2"}, 2, false, {}, {}},
        CommandLineCase{"Help", {"--help"}, 0, false, {}, {}},
        CommandLineCase{"BoardOptionWithoutSimulation", {"--sim-option", "--no-ping"}, 2, false, {}, {}},
        CommandLineCase{"SimOptionWithoutValue", {"--simulate", "--sim-option"}, 2, false, {}, {}},
        CommandLineCase{"UnknownArgument", {"--flash-now"}, 2, false, {}, {}}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace fieldkit::app
