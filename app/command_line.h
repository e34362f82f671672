#pragma once

#include <optional>
#include <string>
#include <vector>

namespace fieldkit::app {

inline constexpr const char* kUsage =
    "Usage: fieldkit [--simulate [--sim-option OPTION ...]]\n"
    "\n"
    "  --simulate            serve an emulated Lodestar board on a pseudo-terminal and map\n"
    "                        COM1 to COM4 to it, for demonstrations and tests\n"
    "  --sim-option OPTION   an option of the emulated board, as lodestar-sim takes it, e.g.\n"
    "                        --sim-option --no-ping or --sim-option \"--esn 0x12345678\"\n"
    "  --help                show this text\n";

struct CommandLine {
    bool simulate = false;
    // The emulated board's option words, each OPTION split at white space.
    std::vector<std::string> boardOptions;
};

// The program's own arguments (after the toolkit has taken its own, and --help), without the
// program name. On a bad argument returns nothing and sets `error`.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& args, std::string* error);

} // namespace fieldkit::app
