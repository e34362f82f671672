#include "app/upgrade_history.h"

#include "app/main_frame.h"
#include "history/history_file.h"
#include "shop/outbox.h"


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
    const auto file = history::historyFile();
    const auto failure = history::appendRecord(file, history::recordFor(run, report));
    std::string warning;
    if (failure)
        warning = "This " + history::runName(run) + " was not recorded in the upgrade history:\n" + *failure;
    if (const auto unsent = shop::sendWaitingRecords(file))
        warning += (warning.empty() ? "" : "\n\n") + *unsent;
    return warning;
}

} // namespace fieldkit::app
