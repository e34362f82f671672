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

} // namespace fieldkit::session
