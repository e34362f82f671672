#include "app/upgrade_history.h"

#include "app/main_frame.h"
#include "history/history_record.h"

namespace fieldkit::app {

session::Place runPlace(int port, const FrameServices& services)
{
    const bool simulated = !services.emulatedBoard.empty();
    return {port, simulated ? services.emulatedBoard : history::deviceMeantBy(port, services.settingsFile), simulated};
}

std::string historyWarning(const char* command, const session::Recorded& recorded)
{
    std::string warning;
    if (recorded.notWritten)
        warning = "This " + history::runName(history::UpgradeRun(command)) + " was not recorded in the upgrade history:\n" +
                  *recorded.notWritten;
    return warning;
}

std::string shopWarning()
{
    std::string warning;
    for (const std::string& text : session::pushToShop())
        warning += (warning.empty() ? "" : "\n\n") + text;
    return warning;
}

} // namespace fieldkit::app
