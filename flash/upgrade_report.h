#pragma once

// What one upgrade did, filled in by the worker as it goes: for the front ends' hints, the
// upgrade history and a bench summary. Nothing here changes what the upgrade does.

#include "core/causes.h"
#include "core/prompts.h"
#include "image/firmware_files.h"
#include "link/board_connection.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace fieldkit::flash {

struct AskedQuestion {
    QuestionKind kind;
    Answer answer;
};

// How a run ended, as the history, a bench summary and the exit status tell it.
enum class RunResult { Success, Failure, Declined, Interrupted };

struct UpgradeReport {
    UpgradeStage stage = UpgradeStage::LoadingFiles; // the last step entered
    std::vector<image::LoadedFile> files;            // in the order read, before any box about them
    std::optional<std::uint16_t> headerChecksum;     // once the image header is written

    link::BoardIdentity identity;     // as far as it was read
    bool identityBlockRead = false;   // band edge and configuration variant are known
    bool versionRead = false;         // identity.boardVersionText holds the board's version
    bool esnRead = false;             // identity.esn holds the board's ESN

    std::vector<AskedQuestion> questions;
    std::optional<FailureKind> failure; // the step that stopped the run
    std::string message;                // its text, exactly as shown
    bool interrupted = false;           // a stop was requested and the run ended at a safe point
    bool succeeded = false;
    std::uint32_t pagesWritten = 0;

    bool declined() const
    {
        return !questions.empty() && questions.back().answer == Answer::No && !failure && !interrupted;
    }

    // A failure shown in a box stays a failure whatever came after it.
    RunResult result() const
    {
        if (succeeded)
            return RunResult::Success;
        if (failure)
            return RunResult::Failure;
        if (interrupted)
            return RunResult::Interrupted;
        return declined() ? RunResult::Declined : RunResult::Failure;
    }
};

} // namespace fieldkit::flash
