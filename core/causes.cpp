#include "core/causes.h"

namespace fieldkit {

bool warnsOfDamage(QuestionKind kind)
{
    return kind != QuestionKind::AlreadyFlashed;
}

bool boardChangedFrom(UpgradeStage stage)
{
    return stage >= UpgradeStage::Erasing;
}

std::string_view keyOf(QuestionKind kind)
{
    switch (kind) {
    case QuestionKind::AlreadyFlashed: return "already_flashed";
    case QuestionKind::IncompatibleFirmware: return "incompatible_firmware";
    case QuestionKind::BootFileErrors: return "boot_file_errors";
    case QuestionKind::ApplicationFileErrors: return "application_file_errors";
    case QuestionKind::BootFileConflict: return "boot_file_conflict";
    case QuestionKind::ApplicationFileConflict: return "application_file_conflict";
    }
    return "unknown";
}

std::string_view keyOf(FailureKind kind)
{
    switch (kind) {
    case FailureKind::BootFileUnreadable: return "boot_file_unreadable";
    case FailureKind::ApplicationFileUnreadable: return "application_file_unreadable";
    case FailureKind::LinkInit: return "link_init";
    case FailureKind::ReadTimers: return "read_timers";
    case FailureKind::ConfigureTimers: return "configure_timers";
    case FailureKind::OpenPort: return "open_port";
    case FailureKind::Ping: return "ping";
    case FailureKind::ReadVersion: return "read_version";
    case FailureKind::ReadEsn: return "read_esn";
    case FailureKind::ProgrammingMode: return "programming_mode";
    case FailureKind::EraseBlock: return "erase_block";
    case FailureKind::BootWrite: return "boot_write";
    case FailureKind::BootVerify: return "boot_verify";
    case FailureKind::BootCopy: return "boot_copy";
    case FailureKind::ApplicationWrite: return "application_write";
    case FailureKind::ApplicationVerify: return "application_verify";
    case FailureKind::Unexpected: return "unexpected";
    case FailureKind::SampleFirmware: return "sample_firmware";
    }
    return "unknown";
}

std::string_view keyOf(WarningKind kind)
{
    switch (kind) {
    case WarningKind::InvalidPortSetting: return "invalid_port_setting";
    case WarningKind::ResetRadio: return "reset_radio";
    }
    return "unknown";
}

std::string_view keyOf(UpgradeStage stage)
{
    switch (stage) {
    case UpgradeStage::LoadingFiles: return "loading_files";
    case UpgradeStage::Connecting: return "connecting";
    case UpgradeStage::ReadingBoard: return "reading_board";
    case UpgradeStage::ProgrammingMode: return "programming_mode";
    case UpgradeStage::Erasing: return "erasing";
    case UpgradeStage::WritingBoot: return "writing_boot";
    case UpgradeStage::VerifyingBoot: return "verifying_boot";
    case UpgradeStage::CopyingBoot: return "copying_boot";
    case UpgradeStage::WritingApplication: return "writing_application";
    case UpgradeStage::VerifyingApplication: return "verifying_application";
    case UpgradeStage::Finishing: return "finishing";
    case UpgradeStage::Done: return "done";
    }
    return "unknown";
}

} // namespace fieldkit
