#pragma once

#include "core/clock.h"
#include "core/prompts.h"
#include "core/stop.h"
#include "core/upgrade_notices.h"
#include "flash/upgrade_report.h"
#include "image/firmware_files.h"
#include "image/firmware_image.h"
#include "link/board_link.h"

#include <filesystem>
#include <string>

namespace fieldkit::flash {

// What an upgrade takes from the main window: the COM port number, read once at the start,
// and the firmware version text of the settings file.
class UpgradeFrame {
public:
    virtual ~UpgradeFrame() = default;
    virtual int GetPort() = 0;
    // Copies the version text with its NUL into `buffer` and returns 0, or copies nothing
    // and returns the size needed when `size` is too small.
    virtual int GetFirmwareVersion(char* buffer, int size) = 0;
};

// GetFirmwareVersion's rule for a version text: copies it with its NUL into `buffer` and
// returns 0, or copies nothing and returns the size needed when `size` is too small.
int copyFirmwareVersion(const std::string& version, char* buffer, int size);

// The two settings as values, for a run without a main window.
class SettingsFrame final : public UpgradeFrame {
public:
    SettingsFrame(int port, std::string version) : port_(port), version_(std::move(version)) {}

    int GetPort() override { return port_; }
    int GetFirmwareVersion(char* buffer, int size) override { return copyFirmwareVersion(version_, buffer, size); }

private:
    int port_;
    std::string version_;
};

// Everything else one upgrade talks through.
struct UpgradeServices {
    link::BoardLink& link;
    Clock& clock;
    Prompts& prompts;         // every box, owned by the main window
    UpgradeNotices& notices;  // progress and status for the main window
    std::filesystem::path firmwareDirectory = "."; // where corvo_boot.s19 and corvo_fwapp.s19 lie
    UpgradeReport* report = nullptr;  // filled in as the run goes, when given
    const UpgradeStop* stop = nullptr; // looked at between steps and pages, when given
    // The firmware files already loaded (and any question about them answered), when given:
    // the run starts from a copy of this image and neither reads the files nor asks about
    // them; report->files is left as the caller filled it. A bench of several boards loads
    // the files once for all of them.
    const image::FirmwareImage* loadedFiles = nullptr;
};

// Loads the two firmware files into `image` as an upgrade does, keeping in `report` the files
// read, any question about them with its answer, and the failure that stopped the loading.
image::LoadOutcome loadFirmwareFiles(image::FirmwareImage& image, Prompts& prompts,
                                     const std::filesystem::path& directory, UpgradeReport& report);

// One whole upgrade, from loading the firmware files to the finished notice. Returns 0 on
// every path; the outcome reaches the window as UPG_FINISHED. A requested stop ends the run
// at its next safe point (between two steps or two pages) without a box: the front end that
// asked for it tells the user where the board stands (UpgradeReport::stage).
int UpgradeWorker(UpgradeFrame& frame, const UpgradeServices& services);

} // namespace fieldkit::flash
