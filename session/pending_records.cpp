#include "session/pending_records.h"

#include <condition_variable>
#include <mutex>

namespace fieldkit::session {
namespace {

// Made on first use: a console handler may wait here while static objects are still being
// made or already gone.
struct Pending {
    std::mutex lock;
    std::condition_variable none;
    int count = 0;
};

Pending& pending()
{
    static Pending* const records = new Pending;
    return *records;
}

} // namespace

RecordPending::RecordPending()
{
    const std::lock_guard lock(pending().lock);
    ++pending().count;
}

RecordPending::~RecordPending()
{
    Pending& records = pending();
    {
        const std::lock_guard lock(records.lock);
        --records.count;
    }
    records.none.notify_all();
}

bool waitForPendingRecords(std::chrono::milliseconds limit)
{
    Pending& records = pending();
    std::unique_lock lock(records.lock);
    return records.none.wait_for(lock, limit, [&records] { return records.count == 0; });
}

} // namespace fieldkit::session
