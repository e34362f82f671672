#pragma once

// Runs still to be recorded. Windows ends a console program a few seconds after telling it
// that its console closed or the session is logging off or shutting down; the program's
// handler then asks the run to stop and waits here for its record before it lets go.

#include <chrono>

namespace fieldkit::session {

// Lives while a run may still have to be recorded. The session holds one for every run; a
// front end may hold one over more (a bench, from its firmware files to its last record).
class RecordPending {
public:
    RecordPending();
    ~RecordPending();
    RecordPending(const RecordPending&) = delete;
    RecordPending& operator=(const RecordPending&) = delete;
};

// Waits until no run is left to be recorded, at most `limit`; true when none is.
bool waitForPendingRecords(std::chrono::milliseconds limit);

} // namespace fieldkit::session
