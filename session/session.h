#pragma once

// One upgrade and one board read, written once below the front ends. A front end gives the
// plan and what the run talks through (a link factory, its boxes, its progress view, the
// stop) and shows the outcome; the session runs the worker or the board-information
// sequence, wraps the link for stopping, adds the hints to the boxes and records the run in
// the upgrade history.

#include "core/clock.h"
#include "core/prompts.h"
#include "core/stop.h"
#include "core/upgrade_notices.h"
#include "flash/upgrade_report.h"
#include "flash/upgrade_worker.h"
#include "image/firmware_files.h"
#include "image/firmware_image.h"
#include "link/board_connection.h"
#include "link/board_link.h"
#include "session/record.h"

#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fieldkit::session {

// Makes the board link for one run, called on the thread that will use it (a serial port
// belongs to the thread that opened it). `clock` is the run's own, for timing answers.
using LinkFactory = std::function<std::unique_ptr<link::BoardLink>(Clock& clock)>;

// Where a run happens, as its record and its hints tell it.
struct Place {
    int port = 1;
    std::string device;     // what the COM port means: a device, or where the emulated board is
    bool simulated = false; // an emulated board stands behind the port
};

// The firmware files read, and asked about, once for several runs (a bench).
struct LoadedFirmware {
    std::unique_ptr<image::FirmwareImage> image = std::make_unique<image::FirmwareImage>();
    // The file stage as each run's record tells it: the files, their questions with the
    // answers, and the failure that made them unusable.
    flash::UpgradeReport report;
    bool usable = false;
};

// Reads the firmware files from `directory`, with the file hints on the boxes about them.
LoadedFirmware loadFirmware(Prompts& prompts, const std::filesystem::path& directory,
                            const std::function<bool()>& stopping);

struct UpgradePlan {
    Place place;
    std::string settingsVersion;          // the settings file's firmware version
    flash::UpgradeFrame* frame = nullptr; // the main window, when there is one; else the two values above
    std::filesystem::path firmwareDirectory = ".";
    const LoadedFirmware* firmware = nullptr; // loaded once for several runs; else read from the directory
};

struct Services {
    LinkFactory makeLink;
    Prompts& prompts;
    UpgradeStop& stop;
    UpgradeNotices* notices = nullptr; // none: no progress is shown
    Clock* clock = nullptr;            // none: real time
    // Whether the run is being stopped, when the front end knows before the stop does (a
    // Ctrl+C that has cut an answer short); none: the stop alone.
    std::function<bool()> stopping;
    // Filled in as the run goes, for a view that shows what was read so far (a bench's line).
    flash::UpgradeReport* report = nullptr;
};

struct Outcome {
    flash::UpgradeReport report;
    flash::RunResult result = flash::RunResult::Failure;
    Recorded recorded;
    std::string adapterHint;                   // a slow cable adapter, "" when it was quick enough
};

// One whole upgrade. The outcome's report holds only questions that were shown: once the
// run is stopping, a question is answered No without a box and not recorded.
Outcome runUpgrade(const UpgradePlan& plan, const Services& services);

// Records a run that the firmware files stopped before it reached a board.
Recorded recordUnstarted(const Place& place, const std::string& settingsVersion,
                                           const flash::UpgradeReport& fileStage);

struct BoardReadOutcome {
    link::BoardIdentity identity;
    std::optional<link::ConnectionFailure> failure;
    flash::RunResult result = flash::RunResult::Failure;
    Recorded recorded;
};

// The board-information sequence: reads the firmware version and ESN, records the read, shows
// what was read through `whileOpen` while the port is still open, closes the port, and then
// shows a failure's box (not when stopped).
BoardReadOutcome readBoard(const Place& place, const std::string& settingsVersion, const Services& services,
                           const std::function<void(const link::BoardIdentity&)>& whileOpen);

} // namespace fieldkit::session
