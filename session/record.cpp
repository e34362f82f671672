#include "session/record.h"

#include "history/history_file.h"
#include "shop/outbox.h"

#include <mutex>

namespace fieldkit::session {

Recorded recordRun(const history::UpgradeRun& run, const flash::UpgradeReport& report)
{
    // The runs of a bench end on threads of their own; they take turns at the file and at
    // the shop database, so that one push sends what every run before it left.
    static std::mutex turn;
    const std::lock_guard taking(turn);
    const auto file = history::historyFile();
    Recorded recorded;
    recorded.notWritten = history::appendRecord(file, history::recordFor(run, report));
    recorded.notSent = shop::sendWaitingRecords(file);
    return recorded;
}

std::vector<std::string> recordWarnings(const char* command, const Recorded& recorded)
{
    std::vector<std::string> warnings;
    if (recorded.notWritten)
        warnings.push_back("This " + history::runName(history::UpgradeRun(command)) +
                           " was not recorded in the upgrade history: " + *recorded.notWritten);
    if (recorded.notSent)
        warnings.push_back(*recorded.notSent);
    return warnings;
}

} // namespace fieldkit::session
