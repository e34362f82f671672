#pragma once

// Held while one program pushes a history file, so that two pushes of one file (a run's and
// `history push`, or benches sharing a file) never send and note its records at once. A
// lock of the system on a file beside the note, one implementation per platform; it goes
// when the program ends, however it ends.

#include <cstdint>
#include <filesystem>
#include <string>

namespace fieldkit::shop {

class PushLock {
public:
    enum class State { Held, Busy, Failed };

    // Takes the lock on `file` (made when missing); with `wait`, waits while another holds it.
    PushLock(const std::filesystem::path& file, bool wait);
    ~PushLock();
    PushLock(const PushLock&) = delete;
    PushLock& operator=(const PushLock&) = delete;

    State state() const { return state_; }
    const std::string& error() const { return error_; } // why, when Failed

private:
    State state_ = State::Failed;
    std::string error_;
    std::intptr_t handle_ = -1;
};

} // namespace fieldkit::shop
