#include "app/upgrade_history.h"

#include "app/command_line.h"
#include "history/history_file.h"

#include <QCoreApplication>
#include <QStringList>

#include <vector>

namespace fieldkit::app {
namespace {

// Whether the program was started with --simulate, which puts the emulated board behind
// every COM port.
bool startedWithEmulatedBoard()
{
    const QStringList arguments = QCoreApplication::arguments();
    std::vector<std::string> words;
    for (qsizetype i = 1; i < arguments.size(); ++i)
        words.push_back(arguments[i].toStdString());
    std::string error;
    const auto commandLine = parseCommandLine(words, &error);
    return commandLine && commandLine->simulate;
}

} // namespace

history::UpgradeRun startHistoryRun(const char* command, int port, const std::string& settingsVersion,
                                    const std::filesystem::path& settingsFile)
{
    history::UpgradeRun run(command);
    run.port = port;
    run.device = history::deviceMeantBy(port, settingsFile);
    run.simulated = startedWithEmulatedBoard();
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
