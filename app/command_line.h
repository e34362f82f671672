#pragma once

#include <filesystem>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

namespace fieldkit::app {

struct CommandLine {
    bool simulate = false;
    // The emulated board's option words, each --sim-option value split at white space.
    std::vector<std::string> boardOptions;
    // --work-folder: the folder to work in instead of the current directory. Given without a
    // value (as the menu entry does), it is empty and the standard folder is meant.
    std::optional<std::filesystem::path> workFolder;
    // --bench: the boards on several COM ports in one window. Given without ports, it is empty
    // and the ports kept in AppConfig.ini are meant (or chosen in a dialog when none are).
    std::optional<std::vector<int>> bench;
};

// The program's own arguments, without the program name (and after the toolkit has taken
// its own). Returns nothing when the program should end at once, with `*exitStatus`: 0 after
// the help text went to `out`, 2 after a usage error went to `err`.
std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& args, std::ostream& out,
                                            std::ostream& err, int* exitStatus);

} // namespace fieldkit::app
