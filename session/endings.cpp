#include "session/endings.h"

#include <algorithm>

namespace fieldkit::session {

int exitStatusFor(StopSignal signal)
{
    return signal == StopSignal::None ? kExitDone : 128 + static_cast<int>(signal);
}

int exitStatusFor(std::span<const flash::RunResult> results, StopSignal signal)
{
    const auto any = [results](flash::RunResult wanted) {
        return std::find(results.begin(), results.end(), wanted) != results.end();
    };
    if (any(flash::RunResult::Interrupted) && signal != StopSignal::None)
        return exitStatusFor(signal);
    if (any(flash::RunResult::Failure) || any(flash::RunResult::Interrupted))
        return kExitFailed;
    return any(flash::RunResult::Declined) ? kExitDeclined : kExitDone;
}

int exitStatusFor(flash::RunResult result, StopSignal signal)
{
    return exitStatusFor(std::span(&result, 1), signal);
}

std::string afterStopText(UpgradeStage stage)
{
    if (boardChangedFrom(stage))
        return "Interrupted after the board's flash was erased: the board holds no whole firmware now.\n"
               "Switch the radio off and on, and run the upgrade again.";
    // The board was told to wait for an erase that never came, and stays that way.
    if (stage == UpgradeStage::ProgrammingMode)
        return "Interrupted before the erase: nothing was written to the board, but it is in programming mode.\n"
               "Switch the radio off and on before using it.";
    return "Interrupted before the erase: nothing was written to the board, and its firmware is as it was.";
}

} // namespace fieldkit::session
