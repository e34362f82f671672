#include "cli/session_wiring.h"

#include "cli/exit_status.h"
#include "cli/interrupt.h"
#include "link/serial_board_link.h"

namespace fieldkit::cli {

session::LinkFactory boardLinks(BoardLine& line)
{
    return [&line](Clock& clock) { return std::make_unique<link::SerialBoardLink>(line.channels(), &clock); };
}

std::function<bool()> interrupting(const UpgradeStop& stop)
{
    return [&stop] { return stop.requested() || pendingInterrupt() != InterruptSignal::None; };
}

int interruptedExitStatus()
{
    const InterruptSignal signal = pendingInterrupt();
    return signal == InterruptSignal::None ? kExitFailed : exitStatusFor(signal);
}

} // namespace fieldkit::cli
