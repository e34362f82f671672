#include "session/hints.h"

#include "core/com_port.h"

#include "image/firmware_files.h"
#include "image/srecord_loader.h"
#include "link/board_connection.h"
#include "settings/app_settings.h"
#include "settings/port_devices.h"
#include "settings/profile.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <optional>
#include <iomanip>
#include <sstream>
#include <system_error>

namespace fs = std::filesystem;

namespace fieldkit::session {
namespace {

// At 115200 baud a board behind a good adapter answers well within a millisecond. USB adapters
// that hold small answers back (16 ms by default for common ones on Windows) average far above
// this, and every page costs three answers.
constexpr std::chrono::microseconds kSlowTurnaround{4000};
// What an adapter set to a 1 ms latency gives; the hint counts the rest as time lost.
constexpr std::chrono::microseconds kGoodTurnaround{1000};
// Below this the latency cost the run too little to be worth a word: a board that keeps
// several requests on the line hides it, but for the few requests that go alone.
constexpr std::chrono::seconds kNoticeableLoss{1};
// A mean over fewer answers (a run that stopped early) says little about the adapter.
constexpr std::uint64_t kFewestTimedAnswers = 20;

std::string fixedText(double value, const char* unit)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << value << unit;
    return text.str();
}

// Where the adapter's latency is set. Linux names it by the adapter's ttyUSB device, which a
// /dev/serial/by-id link leads to; any other device is named as it is.
std::string latencySettingText([[maybe_unused]] const std::string& device)
{
#ifdef _WIN32
    return "Set the adapter's latency to 1 ms: Device Manager > Ports (COM & LPT) > the port (" + device +
           ") > Properties > Port Settings > Advanced > Latency Timer (msec) = 1.";
#else
    std::error_code error;
    const fs::path resolved = fs::canonical(device, error);
    const std::string name = error ? std::string() : resolved.filename().string();
    const std::string lead = "FieldKit asks the serial driver for low latency itself; ";
    if (name.rfind("ttyUSB", 0) == 0)
        return lead + "if the adapter still holds answers back, set its latency to 1 ms: echo 1 | sudo tee "
                      "/sys/bus/usb-serial/devices/" + name + "/latency_timer";
    const std::string named = error || resolved == fs::path(device) ? device : device + " (" + resolved.string() + ")";
    return lead + named + " is no USB serial adapter of its own: set the latency of the adapter behind it to 1 ms.";
#endif
}

// Why a file that is there does not open for reading; empty when it opens. A stream says
// nothing reliable about why it failed; the C library's open sets errno on failure.
std::optional<std::string> whyUnreadable(const fs::path& file)
{
    errno = 0;
    std::FILE* opened = std::fopen(file.string().c_str(), "rb");
    const int error = errno;
    if (opened != nullptr) {
        std::fclose(opened);
        return std::nullopt;
    }
    return error != 0 ? std::generic_category().message(error) : "it does not open";
}

std::string unreadableFileHint(const fs::path& file)
{
    const std::string name = file.filename().string();
    std::error_code error;
    const auto status = fs::status(file, error);
    if (!fs::exists(status))
        return "Hint: " + name + " was not found in " + fs::absolute(file).lexically_normal().parent_path().string() +
               ". Run fieldkit-cli in the folder that holds " + image::kBootFileName + " and " +
               image::kApplicationFileName + ".";
    if (fs::is_directory(status))
        return "Hint: " + name + " is a directory, not a firmware file.";
    if (const auto why = whyUnreadable(file))
        return "Hint: " + name + " cannot be read: " + *why + ".";
    return {};
}

std::string firmwareErrorsHint(const image::LoadedFile& file)
{
    const auto& read = file.read;
    if (!read.errors || read.firstError.empty())
        return {};
    std::string hint = "Hint: " + file.path.filename().string();
    if (read.firstErrorLine != 0)
        hint += " line " + std::to_string(read.firstErrorLine);
    hint += ": " + read.firstError;
    if (read.errorCount > 1)
        hint += " (" + std::to_string(read.errorCount) + " faults in all)";
    return hint + ".";
}

} // namespace

std::string firmwareFileHint(const Cause& cause, const std::vector<image::LoadedFile>& loaded)
{
    for (const auto& file : loaded) {
        if (cause == Cause{file.file->failedKind})
            return unreadableFileHint(file.path);
        if (cause == Cause{file.file->errorsKind} || cause == Cause{file.file->conflictKind})
            return firmwareErrorsHint(file);
    }
    return {};
}

FailureHints::FailureHints(const link::BoardLink& link, int port, std::string device,
                           const std::vector<image::LoadedFile>& loaded)
    : link_(link), port_(port), device_(std::move(device)), loaded_(loaded)
{
}

std::string FailureHints::forCause(const Cause& cause) const
{
    if (cause == Cause{FailureKind::OpenPort})
        return openFailureHint();
    if (cause == Cause{FailureKind::Ping})
        return silentBoardHint();
    return firmwareFileHint(cause, loaded_);
}

std::string FailureHints::openFailureHint() const
{
    const wire::OpenResult open = link_.details().lastOpen;
    const std::string& device = device_;
    const std::string com = comPortName(port_);
    switch (open.failure) {
    case wire::OpenFailure::None:
        return {};
    case wire::OpenFailure::NotFound:
        return "Hint: " + com + " is " + device +
               ", which does not exist. Plug in the programming cable, or map the port to its device with "
               "FIELDKIT_" + com + "=" + settings::kExampleCableDevice + " or in AppConfig.ini [SerialDevices] (see 'fieldkit-cli ports').";
    case wire::OpenFailure::PermissionDenied:
        return "Hint: no permission to open " + device +
               ". On Linux, add yourself to the dialout group (sudo usermod -aG dialout $USER) and log in again.";
    case wire::OpenFailure::Busy:
        return "Hint: " + device + " is in use by another program. Close it and try again.";
    case wire::OpenFailure::NotASerialPort:
        return "Hint: " + device + " is not a serial port. Check the " + com + " mapping.";
    case wire::OpenFailure::Other:
        return "Hint: " + device + ": " + open.detail;
    }
    return {};
}

// The ping fails alike for a board that stays silent and for a line full of bytes that are
// no answer; the bytes that came back tell the two apart.
std::string FailureHints::silentBoardHint() const
{
    const std::string where = comPortName(port_) + " (" + device_ + ")";
    if (link_.details().statistics.wireBytesReceived == 0)
        return "Hint: nothing came back on " + where +
               ": is the radio on, and the cable in its programming socket?";
    return "Hint: " + where +
           " answered, but not as a Lodestar board does: is this the radio's programming cable, and the line "
           "free of other programs?";
}

std::string slowAdapterHint(const link::LinkStatistics& statistics, const std::string& device)
{
    const auto mean = statistics.meanTurnaround();
    if (statistics.answersTimed < kFewestTimedAnswers || mean <= kSlowTurnaround)
        return {};
    const auto lost = (mean - kGoodTurnaround) * statistics.answersTimed;
    if (lost < kNoticeableLoss)
        return {};
    using Seconds = std::chrono::duration<double>;
    using Milliseconds = std::chrono::duration<double, std::milli>;
    return "Hint: the board's answers took " + fixedText(Milliseconds(mean).count(), " ms") +
           " on average to come back (a good cable: under 1 ms); the cable's adapter holds them back, which made "
           "this upgrade about " + fixedText(Seconds(lost).count(), " s") + " longer (" +
           std::to_string(statistics.answersTimed) + " answers).\n" + latencySettingText(device);
}

std::string unreadableSettingsHint(const fs::path& file)
{
    std::error_code error;
    if (!fs::exists(file, error))
        return {};
    if (const auto why = whyUnreadable(file))
        return "Hint: " + file.filename().string() + " cannot be read (" + *why + "); its settings are not used.";
    if (const auto problem = settings::readProfileProblem(file))
        return "Hint: " + file.filename().string() + " " + *problem + ".";
    return {};
}

std::string portWithoutPrefixHint(const fs::path& file)
{
    // Read wide enough to show the value as written.
    const std::string value = settings::readProfileString(file, "SerialPort", "PortNumber", "", 64);
    return "Hint: PortNumber=" + value + " in " + file.filename().string() + " is not of the form COMn; using COM1.";
}

} // namespace fieldkit::session
