#pragma once

// Why the logic asks, stops or warns. Every box carries one of these beside its exact text,
// so that hints, the upgrade history and a bench summary decide by kind and never by
// comparing texts. The keys are stable: the history stores them and other tools read them.

#include <string_view>
#include <variant>

namespace fieldkit {

enum class QuestionKind {
    AlreadyFlashed,        // the board carries the firmware version named in the settings
    IncompatibleFirmware,  // the board's firmware looks like a family this upgrade does not fit
    BootFileErrors,        // the boot code file reported errors
    ApplicationFileErrors, // the application code file reported errors
    BootFileConflict,        // two records of the boot code file give one address different bytes
    ApplicationFileConflict, // two records of the application code file do
};

// Whether answering Yes might render the radio unusable (the question says so itself), as
// opposed to the routine question about a board that already has the version.
bool warnsOfDamage(QuestionKind kind);

enum class FailureKind {
    BootFileUnreadable,
    ApplicationFileUnreadable,
    LinkInit,
    ReadTimers,
    ConfigureTimers,
    OpenPort,
    Ping,
    ReadVersion,
    ReadEsn,
    ProgrammingMode,
    EraseBlock,
    BootWrite,
    BootVerify,
    BootCopy,
    ApplicationWrite,
    ApplicationVerify,
    Unexpected, // an exception inside the run: out of memory or a broken invariant
    SampleFirmware, // the demo's sample firmware, refused for a board that is not the emulated one
};

enum class WarningKind {
    InvalidPortSetting, // the settings file names no COM port from 1 to 4
    ResetRadio,         // the new firmware is in place but the board missed the finish command
};

// The step an upgrade is in, carried with each status text. From ProgrammingMode on, the
// board waits for the host's erase and writes and runs no firmware until it is switched off
// and on or told to finish; from Erasing on, its flash no longer holds a whole firmware until
// the run completes.
enum class UpgradeStage {
    LoadingFiles,
    Connecting,
    ReadingBoard,
    ProgrammingMode,
    Erasing,
    WritingBoot,
    VerifyingBoot,
    CopyingBoot,
    WritingApplication,
    VerifyingApplication,
    Finishing,
    Done,
};

bool boardChangedFrom(UpgradeStage stage);

using Cause = std::variant<FailureKind, QuestionKind, WarningKind>;

std::string_view keyOf(QuestionKind kind);
std::string_view keyOf(FailureKind kind);
std::string_view keyOf(WarningKind kind);
std::string_view keyOf(UpgradeStage stage);

} // namespace fieldkit
