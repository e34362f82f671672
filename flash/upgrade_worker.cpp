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
#include <cstring>
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

// The loader's boxes, kept in the report as they are shown.
class FileStagePrompts final : public Prompts {
public:
    FileStagePrompts(Prompts& prompts, UpgradeReport& report) : prompts_(prompts), report_(report) {}

    void error(FailureKind kind, const std::string& text) override
    {
        report_.failure = kind;
        report_.message = text;
        prompts_.error(kind, text);
    }
    Answer question(QuestionKind kind, const std::string& text) override
    {
        const Answer answer = prompts_.question(kind, text);
        report_.questions.push_back({kind, answer});
        return answer;
    }
    void warning(WarningKind kind, const std::string& text) override { prompts_.warning(kind, text); }

private:
    Prompts& prompts_;
    UpgradeReport& report_;
};

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
        : frame_(frame), services_(services), report_(services.report != nullptr ? *services.report : ownReport_),
          connection_(services.link, services.clock), programmer_(services.link, services.clock, services.stop)
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
            fail(FailureKind::Unexpected, std::string("The upgrade stopped unexpectedly: ") + failure.what());
        }
        report_.succeeded = succeeded;
        report_.pagesWritten = programmer_.pagesWritten();
        if (succeeded)
            report_.stage = UpgradeStage::Done;
        finish(succeeded, elapsedSecondsBetween(startTick, services_.clock.tickMs()));
    }

private:
    UpgradeNotices* window() { return services_.notices.hasWindow() ? &services_.notices : nullptr; }

    void enter(UpgradeStage stage, const char* text = nullptr)
    {
        report_.stage = stage;
        if (text == nullptr)
            return;
        if (auto* notices = window())
            notices->statusText(stage, text);
    }

    // A safe point: nothing is half sent. True when the run must end here.
    bool stopRequested()
    {
        if (services_.stop == nullptr || !services_.stop->requestedAt(report_.stage))
            return false;
        report_.interrupted = true;
        return true;
    }

    bool fail(FailureKind kind, const std::string& text)
    {
        report_.failure = kind;
        report_.message = text;
        services_.prompts.error(kind, text);
        return false;
    }

    bool failWithAdvice(FailureKind kind, const std::string& text) { return fail(kind, text + kAdvice); }

    // The board step failed; when a stop was requested meanwhile, the stop is the cause.
    bool failStep(FailureKind kind, const std::string& text)
    {
        return stopRequested() ? false : failWithAdvice(kind, text);
    }

    bool ask(QuestionKind kind, const std::string& text)
    {
        const Answer answer = services_.prompts.question(kind, text);
        report_.questions.push_back({kind, answer});
        return answer == Answer::Yes;
    }

    // Steps up to and including the finish command; false when the run stopped.
    bool programBoard()
    {
        enter(UpgradeStage::LoadingFiles);
        if (!loadFiles() || stopRequested())
            return false;

        enter(UpgradeStage::Connecting);
        if (const auto failure = connection_.open(port_, true, window()))
            return stopRequested() ? false : fail(failure->kind, failure->text);

        enter(UpgradeStage::ReadingBoard);
        connection_.readIdentityBlock();
        report_.identityBlockRead = identity().boardChecksEnabled;
        // Kept now: the image is built for this band even when a later read stops the run.
        report_.identity = identity();
        image::writeDefaultConfigBlock(static_cast<std::uint8_t>(identity().configVariant), image::kUpgradeConfigSlot, *image_,
                                       image::kUpgradeConfigSlotBase);
        image::writeImageHeader(*image_);
        report_.headerChecksum = image::headerChecksum(*image_);

        if (!readParameterBlock(connection_, trailer_)) {
            identity().boardChecksEnabled = false;
            if (!connection_.readEsn())
                return stopRequested() ? false : fail(FailureKind::ReadEsn, link::kReadEsnFailed);
            report_.esnRead = true;
            trailer_.fillFromEsn(identity().esn);
        }
        // A block that opens with the ESN and its complement names the board without a read.
        if (const auto esn = image::esnInParameterBlock(trailer_.bytes()); esn && !report_.esnRead) {
            identity().esn = *esn;
            identity().esnText = link::esnTextOf(*esn);
            report_.esnRead = true;
        }
        report_.identity = identity();
        if (const auto refusal = image::sampleFirmwareRefusal(report_.files, identity().emulatedBoard))
            return fail(FailureKind::SampleFirmware, *refusal);
        if (identity().boardChecksEnabled && !confirmVersion())
            return false;
        trailer_.storeInImage(*image_);

        if (stopRequested())
            return false;
        // Entered before the command goes out: a stop that cuts its answer short may leave
        // the board in programming mode.
        enter(UpgradeStage::ProgrammingMode);
        if (programmer_.sendCommand(port_, CMD_PROGRAMMING_MODE) != FLASH_OK)
            return stopRequested() ? false : fail(FailureKind::ProgrammingMode, kProgrammingModeFailed);
        services_.clock.sleep(kProgrammingModePause);
        if (auto* notices = window())
            notices->beginProgress(countNonBlankPages(image_->bytes()));

        // From here on the board no longer holds a whole firmware until the run completes.
        if (stopRequested())
            return false;
        enter(UpgradeStage::Erasing, kErasingStatus);
        for (std::size_t row = kFirstErasedRow; row >= kLastErasedRow; --row)
            if (stopRequested() ||
                programmer_.sendCommand(port_, CMD_ERASE_BLOCK + FlashBlockTable[row].blockNumber) != FLASH_OK)
                return failStep(FailureKind::EraseBlock, withNumber(kEraseFailed, static_cast<int>(row)));

        const auto boot = image_->bytes().subspan(image::kBootRegionOffset, image::kBootRegionSize);
        const auto application =
            image_->bytes().subspan(image::kApplicationRegionOffset, image::kApplicationRegionSize);
        const std::uint32_t temporaryArea = FlashBlockTable[kFirstErasedRow].baseAddress;

        enter(UpgradeStage::WritingBoot, kWritingBootStatus);
        if (programmer_.writeRegion(port_, boot, temporaryArea, window()) != FLASH_OK)
            return failStep(FailureKind::BootWrite, kBootWriteFailed);
        if (stopRequested())
            return false;
        enter(UpgradeStage::VerifyingBoot, kVerifyingBootStatus);
        if (programmer_.verifyRegionChecksum(port_, CMD_VERIFY_BOOT, image::imageChecksum(boot)) != FLASH_OK)
            return failStep(FailureKind::BootVerify, kBootVerifyFailed);
        if (stopRequested())
            return false;
        enter(UpgradeStage::CopyingBoot);
        if (programmer_.sendCommand(port_, CMD_BOOT_COPY) != FLASH_OK)
            return failStep(FailureKind::BootCopy, kBootCopyFailed);
        services_.clock.sleep(kBootCopyPause);

        if (stopRequested())
            return false;
        enter(UpgradeStage::WritingApplication, kWritingAppStatus);
        if (programmer_.writeRegion(port_, application, image::kFlashBase, window()) != FLASH_OK)
            return failStep(FailureKind::ApplicationWrite, kAppWriteFailed);
        if (stopRequested())
            return false;
        enter(UpgradeStage::VerifyingApplication, kVerifyingAppStatus);
        if (programmer_.verifyRegionChecksum(port_, CMD_VERIFY_APP, image::imageChecksum(application)) != FLASH_OK)
            return failStep(FailureKind::ApplicationVerify, kAppVerifyFailed);

        // The new firmware is in place and verified; a board that misses the finish only
        // needs a reset, so the run still counts as a success.
        enter(UpgradeStage::Finishing);
        if (programmer_.sendCommand(port_, CMD_FINISH) != FLASH_OK)
            services_.prompts.warning(WarningKind::ResetRadio, kResetRadioWarning);
        return true;
    }

    bool loadFiles()
    {
        if (services_.loadedFiles != nullptr) {
            *image_ = *services_.loadedFiles;
            return true;
        }
        return flash::loadFirmwareFiles(*image_, services_.prompts, services_.firmwareDirectory, report_) ==
               image::LoadOutcome::GoOn;
    }

    // The questions about the firmware the board already carries; false on a No.
    bool confirmVersion()
    {
        report_.versionRead = connection_.readFirmwareVersion(true);
        report_.identity.boardVersionText = identity().boardVersionText;
        if (!report_.versionRead)
            return true;
        const std::string& boardVersion = identity().boardVersionText;
        std::array<char, kVersionBufferSize> settingsVersion{};
        frame_.GetFirmwareVersion(settingsVersion.data(), kVersionBufferSize);
        if (boardVersion == settingsVersion.data() &&
            !ask(QuestionKind::AlreadyFlashed, withText(kAlreadyFlashedQuestion, boardVersion)))
            return false;
        if (isIncompatibleVersion(boardVersion) &&
            !ask(QuestionKind::IncompatibleFirmware, withText(kIncompatibleQuestion, boardVersion)))
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
    UpgradeReport ownReport_;
    UpgradeReport& report_;
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

image::LoadOutcome loadFirmwareFiles(image::FirmwareImage& image, Prompts& prompts,
                                     const std::filesystem::path& directory, UpgradeReport& report)
{
    FileStagePrompts recorded(prompts, report);
    return image::loadFirmwareFiles(image, recorded, directory, &report.files);
}

int copyFirmwareVersion(const std::string& version, char* buffer, int size)
{
    const int needed = static_cast<int>(version.size()) + 1;
    if (size < needed)
        return needed;
    std::memcpy(buffer, version.c_str(), static_cast<std::size_t>(needed));
    return 0;
}

int UpgradeWorker(UpgradeFrame& frame, const UpgradeServices& services)
{
    UpgradeRun(frame, services).run();
    return 0;
}

} // namespace fieldkit::flash
