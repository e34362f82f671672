#pragma once

// One upgrade and one board read, written once below the front ends. A front end gives the
// plan and what the run talks through (a link factory, its view, the stop) and shows the
// outcome; the session runs the worker or the board-information sequence, wraps the link for
// stopping, adds the hints to the boxes, turns the worker's notices into typed progress and
// records the run in the upgrade history. A bench of such runs is in session/bench.h.

#include "core/clock.h"
#include "core/stop.h"
#include "flash/upgrade_report.h"
#include "image/firmware_image.h"
#include "link/board_connection.h"
#include "link/board_link.h"
#include "session/front_end.h"
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

// COM<port> as a run's record and its hints tell it: where the emulated board is when one
// stands behind the port, else the device `settingsFile` maps the port to.
Place placeFor(int port, const std::filesystem::path& settingsFile, const std::string& emulatedBoard = {});

// The COM port a run uses: `given`, else the settings file's. What is wrong with the settings
// goes to `view`: a notice for a file that cannot be read and for a port value without "COM"
// (read as COM1), the warning box for one that names no COM port from 1 to 4.
int choosePort(std::optional<int> given, const std::filesystem::path& settingsFile, RunView& view);

// The firmware files read, and asked about, once for several runs (a bench).
struct LoadedFirmware {
    std::unique_ptr<image::FirmwareImage> image = std::make_unique<image::FirmwareImage>();
    // The file stage as each run's record tells it: the files, their questions with the
    // answers, and the failure that made them unusable.
    flash::UpgradeReport report;
    bool usable = false;
    std::string failureHint; // the hint of the box that made them unusable; "" when none
};

// Reads the firmware files from `directory`, with the file hints on the boxes about them.
LoadedFirmware loadFirmware(Prompts& prompts, const std::filesystem::path& directory,
                            const std::function<bool()>& stopping);

struct UpgradePlan {
    Place place;
    std::string settingsVersion; // the settings file's firmware version, which the board's is compared with
    std::filesystem::path firmwareDirectory = ".";
    const LoadedFirmware* firmware = nullptr; // loaded once for several runs; else read from the directory
};

struct Services {
    LinkFactory makeLink;
    RunView& view;
    UpgradeStop& stop;
    Clock* clock = nullptr; // none: real time
    // Whether the run is being stopped, when the front end knows before the stop does (a
    // Ctrl+C that has cut an answer short); none: the stop alone.
    std::function<bool()> stopping;
};

struct Outcome {
    flash::UpgradeReport report;
    flash::RunResult result = flash::RunResult::Failure;
    Recorded recorded;
    std::string failureHint; // the hint of the box that stopped the run; "" when none
    std::string adapterHint; // a slow cable adapter, "" when it was quick enough
};

// One whole upgrade. The outcome's report holds only questions that were shown: once the
// run is stopping, a question is answered No without a box and not recorded.
Outcome runUpgrade(const UpgradePlan& plan, const Services& services);

// Records a run that the firmware files stopped before it reached a board.
Recorded recordUnstarted(const Place& place, const std::string& settingsVersion, const flash::UpgradeReport& fileStage);

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
