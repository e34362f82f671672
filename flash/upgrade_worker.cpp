#include "flash/upgrade_worker.h"

#include "flash/flash_programmer.h"
#include "flash/upgrade_steps.h"
#include "image/config_block.h"
#include "image/firmware_files.h"
#include "image/firmware_image.h"
#include "image/parameter_trailer.h"
#include "link/board_connection.h"

#include <array>
#include <cstdio>
#include <exception>
#include <memory>

namespace fieldkit::flash {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kProgrammingModePause{500};
constexpr std::chrono::milliseconds kBootCopyPause{2000};

constexpr const char* kErasingStatus = "Erasing flash blocks";
constexpr const char* kWritingBootStatus = "Upgrading the boot code";
constexpr const char* kVerifyingBootStatus = "Verifying the boot code";
constexpr const char* kWritingAppStatus = "Upgrading the application code";
constexpr const char* kVerifyingAppStatus = "Verifying the application code";

constexpr const char* kAdvice = "\n\nPlease turn the radio off and back on.\n\nThen, try upgrading again.\n\n";
constexpr const char* kAlreadyFlashedQuestion =
    "The Lodestar board is already flashed with\nfirmware version %s.\n\nFlash anyway?";
constexpr const char* kIncompatibleQuestion =
    "The Lodestar board is flashed with firmware version %s.\n\nThat seems to indicate the board is "
    "incompatible with the\nfirmware you requested to write.\nIt is suggested not to write it.\nWriting it "
    "might render the radio unusable.\n\nWould you like to proceed anyway?";
constexpr const char* kProgrammingModeFailed = "Failed to switch to programming mode";
constexpr const char* kEraseFailed = "Failed to erase block %i.";
constexpr const char* kBootWriteFailed = "Failed to write to boot code temporary storage area.";
constexpr const char* kBootVerifyFailed = "Failed to verify boot code integrity.";
constexpr const char* kBootCopyFailed = "Failed to copy boot code from temporary storage area.";
constexpr const char* kAppWriteFailed = "Failed to write to application code area.";
constexpr const char* kAppVerifyFailed = "Failed to verify application code integrity.";
constexpr const char* kResetRadioWarning = "Please reset your radio";

// The version text of the settings file holds at most 13 characters and its NUL.
constexpr int kVersionBufferSize = 14;

std::string withText(const char* format, const std::string& text)
{
    const int size = std::snprintf(nullptr, 0, format, text.c_str());
    std::string filled(static_cast<std::size_t>(size), '\0');
    std::snprintf(filled.data(), filled.size() + 1, format, text.c_str());
    return filled;
}

std::string withNumber(const char* format, int number)
{
    std::array<char, 64> filled{};
    std::snprintf(filled.data(), filled.size(), format, number);
    return filled.data();
}

// One run: everything it owns lives here and goes when the run ends.
class UpgradeRun {
public:
    UpgradeRun(UpgradeFrame& frame, const UpgradeServices& services)
        : frame_(frame), services_(services), connection_(services.link, services.clock),
          programmer_(services.link, services.clock)
    {
    }

    void run()
    {
        const std::uint32_t startTick = services_.clock.tickMs();
        port_ = frame_.GetPort();
        bool succeeded = false;
        try {
            succeeded = programBoard();
        } catch (const std::exception& failure) {
            // Out of memory or a broken invariant: stop like any other failure, never crash
            // the program around it.
            services_.prompts.error(std::string("The upgrade stopped unexpectedly: ") + failure.what());
        }
        finish(succeeded, elapsedSecondsBetween(startTick, services_.clock.tickMs()));
    }

private:
    UpgradeNotices* window() { return services_.notices.hasWindow() ? &services_.notices : nullptr; }

    void status(const char* text)
    {
        if (auto* notices = window())
            notices->statusText(text);
    }

    bool fail(const std::string& text)
    {
        services_.prompts.error(text);
        return false;
    }

    bool failWithAdvice(const std::string& text) { return fail(text + kAdvice); }

    bool ask(const std::string& text) { return services_.prompts.question(text) == Answer::Yes; }

    // Steps up to and including the finish command; false when the run stopped.
    bool programBoard()
    {
        if (image::loadFirmwareFiles(*image_, services_.prompts, services_.firmwareDirectory) !=
            image::LoadOutcome::GoOn)
            return false;

        if (const auto failure = connection_.open(port_, true, window()))
            return fail(*failure);

        connection_.readIdentityBlock();
        image::writeDefaultConfigBlock(static_cast<std::uint8_t>(identity().configVariant), image::kUpgradeConfigSlot, *image_,
                                       image::kUpgradeConfigSlotBase);
        image::writeImageHeader(*image_);

        if (!readParameterBlock(connection_, trailer_)) {
            identity().boardChecksEnabled = false;
            if (!connection_.readEsn())
                return fail(link::kReadEsnFailed);
            trailer_.fillFromEsn(identity().esn);
        }
        if (identity().boardChecksEnabled && !confirmVersion())
            return false;
        trailer_.storeInImage(*image_);

        if (programmer_.sendCommand(port_, CMD_PROGRAMMING_MODE) != 0)
            return fail(kProgrammingModeFailed);
        services_.clock.sleep(kProgrammingModePause);
        if (auto* notices = window())
            notices->beginProgress(countNonBlankPages(image_->bytes()));

        status(kErasingStatus);
        for (std::size_t row = kFirstErasedRow; row >= kLastErasedRow; --row)
            if (programmer_.sendCommand(port_, CMD_ERASE_BLOCK + FlashBlockTable[row].blockNumber) != 0)
                return failWithAdvice(withNumber(kEraseFailed, static_cast<int>(row)));

        const auto boot = image_->bytes().subspan(image::kBootRegionOffset, image::kBootRegionSize);
        const auto application =
            image_->bytes().subspan(image::kApplicationRegionOffset, image::kApplicationRegionSize);
        const std::uint32_t temporaryArea = FlashBlockTable[kFirstErasedRow].baseAddress;

        status(kWritingBootStatus);
        if (programmer_.writeRegion(port_, boot, temporaryArea, window()) != 0)
            return failWithAdvice(kBootWriteFailed);
        status(kVerifyingBootStatus);
        if (programmer_.verifyRegionChecksum(port_, CMD_VERIFY_BOOT, image::imageChecksum(boot)) != 0)
            return failWithAdvice(kBootVerifyFailed);
        if (programmer_.sendCommand(port_, CMD_BOOT_COPY) != 0)
            return failWithAdvice(kBootCopyFailed);
        services_.clock.sleep(kBootCopyPause);

        status(kWritingAppStatus);
        if (programmer_.writeRegion(port_, application, image::kFlashBase, window()) != 0)
            return failWithAdvice(kAppWriteFailed);
        status(kVerifyingAppStatus);
        if (programmer_.verifyRegionChecksum(port_, CMD_VERIFY_APP, image::imageChecksum(application)) != 0)
            return failWithAdvice(kAppVerifyFailed);

        // The new firmware is in place and verified; a board that misses the finish only
        // needs a reset, so the run still counts as a success.
        if (programmer_.sendCommand(port_, CMD_FINISH) != 0)
            services_.prompts.warning(kResetRadioWarning);
        return true;
    }

    // The questions about the firmware the board already carries; false on a No.
    bool confirmVersion()
    {
        if (!connection_.readFirmwareVersion(true))
            return true;
        const std::string& boardVersion = identity().boardVersionText;
        std::array<char, kVersionBufferSize> settingsVersion{};
        frame_.GetFirmwareVersion(settingsVersion.data(), kVersionBufferSize);
        if (boardVersion == settingsVersion.data() && !ask(withText(kAlreadyFlashedQuestion, boardVersion)))
            return false;
        if (isIncompatibleVersion(boardVersion) && !ask(withText(kIncompatibleQuestion, boardVersion)))
            return false;
        return true;
    }

    // The ending every run passes through.
    void finish(bool succeeded, std::uint32_t elapsedSeconds)
    {
        const std::string text = succeeded ? finalText(elapsedSeconds) : finalText(0);
        connection_.close();
        if (auto* notices = window())
            notices->finalText(text);
        if (auto* notices = window())
            notices->finished(succeeded ? UPG_RESULT_SUCCESS : UPG_RESULT_FAILURE);
    }

    link::BoardIdentity& identity() { return connection_.identity(); }

    UpgradeFrame& frame_;
    const UpgradeServices& services_;
    link::BoardConnection connection_;
    FlashProgrammer programmer_;
    std::unique_ptr<image::FirmwareImage> image_ = std::make_unique<image::FirmwareImage>();
    image::BoardParameterTrailer trailer_;
    int port_ = 0;
};

} // namespace

bool isIncompatibleVersion(const std::string& text)
{
    return text.size() >= 4 && text[1] == '0' && text[2] >= '1' && text[2] <= '6' && text[3] == '.';
}

std::string finalText(std::uint32_t elapsedSeconds)
{
    // A successful run takes at least the 6.5 s of its fixed pauses, so 0 stands for a run
    // that stopped.
    if (elapsedSeconds == 0)
        return "Ready";
    std::array<char, 96> text{};
    std::snprintf(text.data(), text.size(), "Ready - Took %i minutes and %i seconds",
                  static_cast<int>(elapsedSeconds / 60), static_cast<int>(elapsedSeconds % 60));
    return text.data();
}

std::uint32_t elapsedSecondsBetween(std::uint32_t startTick, std::uint32_t nowTick)
{
    return (nowTick - startTick) / 1000;
}

bool readParameterBlock(link::BoardConnection& connection, image::BoardParameterTrailer& trailer)
{
    std::array<std::uint8_t, link::kParameterBlockSize> block{};
    if (!connection.read(link::ADDR_PARAMETER_BLOCK, block))
        return false;
    trailer.takeParameterBlock(block);
    return true;
}

int UpgradeWorker(UpgradeFrame& frame, const UpgradeServices& services)
{
    UpgradeRun(frame, services).run();
    return 0;
}

} // namespace fieldkit::flash
