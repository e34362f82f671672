#include "app/upgrade_history.h"

namespace fieldkit::app {

std::string historyWarning(const char* command, const session::Recorded& recorded)
{
    std::string warning;
    for (const std::string& text : session::recordWarnings(command, recorded))
        warning += (warning.empty() ? "" : "\n\n") + text;
    return warning;
}

} // namespace fieldkit::app
