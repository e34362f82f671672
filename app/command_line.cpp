#include "app/command_line.h"

#include <sstream>

namespace fieldkit::app {
namespace {

constexpr std::string_view kSimOption = "--sim-option";

void appendWords(const std::string& option, std::vector<std::string>& words)
{
    std::istringstream stream(option);
    for (std::string word; stream >> word;)
        words.push_back(word);
}

} // namespace

std::optional<CommandLine> parseCommandLine(const std::vector<std::string>& args, std::string* error)
{
    CommandLine line;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--simulate") {
            line.simulate = true;
        } else if (arg == kSimOption) {
            if (i + 1 == args.size()) {
                *error = "--sim-option needs a value";
                return std::nullopt;
            }
            appendWords(args[++i], line.boardOptions);
        } else if (arg.starts_with(std::string(kSimOption) + "=")) {
            appendWords(arg.substr(kSimOption.size() + 1), line.boardOptions);
        } else {
            *error = "Unknown argument: " + arg;
            return std::nullopt;
        }
    }
    if (!line.boardOptions.empty() && !line.simulate) {
        *error = "--sim-option needs --simulate";
        return std::nullopt;
    }
    return line;
}

} // namespace fieldkit::app
