#pragma once

// Lines added to a message of the system's own when that message alone would leave the
// technician guessing at the cause: below it on a terminal, as a second paragraph of the same
// box in the desktop program. The messages themselves stay exactly as they are; every
// function gives "" when there is nothing to add.

#include "core/causes.h"
#include "image/firmware_files.h"
#include "link/board_link.h"

#include <filesystem>
#include <string>
#include <vector>

namespace fieldkit::session {

// For a box about a firmware file: why it could not be read, or the first fault the loader
// found in it and how many there were. `loaded` holds what the loader made of each file.
std::string firmwareFileHint(const Cause& cause, const std::vector<image::LoadedFile>& loaded);

class FailureHints {
public:
    // `link` is the board link the run talks through (asked for its details when a box comes),
    // `port` its COM port and `device` what that port means, `loaded` what the loader made of
    // the firmware files (empty for a run that reads none).
    FailureHints(const link::BoardLink& link, int port, std::string device,
                 const std::vector<image::LoadedFile>& loaded);

    // The hint for a box of this kind: a firmware file's hint, why the port did not open, or
    // whether the board stayed silent or answered garbage.
    std::string forCause(const Cause& cause) const;

private:
    std::string openFailureHint() const;
    std::string silentBoardHint() const;

    const link::BoardLink& link_;
    int port_;
    std::string device_;
    const std::vector<image::LoadedFile>& loaded_;
};

// After an upgrade: when the cable's adapter held the board's answers back long enough to slow
// the run down, how much longer the run took for it and how to set the adapter's latency to
// 1 ms; "" otherwise, and for a mean over too few answers to tell. Only answers the run waited
// for on an idle line are timed: answers that came back while more requests were on their
// way cost nothing. `device` is what the upgrade's COM port means.
std::string slowAdapterHint(const link::LinkStatistics& statistics, const std::string& device);

// A settings file that is there but cannot be read, and so is read as missing, or whose text
// is not read as it was meant (see settings::profileProblem); "" otherwise.
std::string unreadableSettingsHint(const std::filesystem::path& file);

// For a port value without the "COM" prefix, which is read as COM1 without a word.
std::string portWithoutPrefixHint(const std::filesystem::path& file);

} // namespace fieldkit::session
