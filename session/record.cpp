#include "session/record.h"

#include "history/history_file.h"

#include <mutex>

namespace fieldkit::session {

std::optional<std::string> recordRun(const history::UpgradeRun& run, const flash::UpgradeReport& report)
{
    // The runs of a bench end on threads of their own; they take turns at the file.
    static std::mutex turn;
    const std::lock_guard taking(turn);
    return history::appendRecord(history::historyFile(), history::recordFor(run, report));
}

} // namespace fieldkit::session
