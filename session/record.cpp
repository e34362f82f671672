#include "session/record.h"

#include "history/history_file.h"
#include "shop/outbox.h"

#include <mutex>

namespace fieldkit::session {

Recorded recordRun(const history::UpgradeRun& run, const flash::UpgradeReport& report)
{
    return {history::appendRecord(history::historyFile(), history::recordFor(run, report))};
}

std::vector<std::string> pushToShop()
{
    // One push at a time in a program, so that one sends what every run before it left.
    static std::mutex turn;
    const std::lock_guard taking(turn);
    return shop::sendWaitingRecords(history::historyFile());
}

std::vector<std::string> recordWarnings(const char* command, const Recorded& recorded)
{
    std::vector<std::string> warnings;
    if (recorded.notWritten)
        warnings.push_back("This " + history::runName(history::UpgradeRun(command)) +
                           " was not recorded in the upgrade history: " + *recorded.notWritten);
    return warnings;
}

} // namespace fieldkit::session
