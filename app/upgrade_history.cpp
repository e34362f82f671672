#include "app/upgrade_history.h"

#include "app/main_frame.h"
#include "history/history_file.h"


namespace fieldkit::app {
history::UpgradeRun startHistoryRun(const char* command, int port, const std::string& settingsVersion,
                                    const FrameServices& services)
{
    history::UpgradeRun run(command);
    run.port = port;
    run.simulated = !services.emulatedBoard.empty();
    run.device = run.simulated ? services.emulatedBoard : history::deviceMeantBy(port, services.settingsFile);
    run.settingsVersion = settingsVersion;
    return run;
}

std::string recordInHistory(const history::UpgradeRun& run, const flash::UpgradeReport& report)
{
    const auto failure = history::appendRecord(history::historyFile(), history::recordFor(run, report));
    if (!failure)
        return {};
    return "This " + history::runName(run) + " was not recorded in the upgrade history:\n" + *failure;
}

} // namespace fieldkit::app
