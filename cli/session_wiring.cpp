#include "cli/session_wiring.h"

#include "link/serial_board_link.h"
#include "session/stop_signals.h"

namespace fieldkit::cli {

session::LinkFactory boardLinks(BoardLine& line)
{
    return [&line](Clock& clock) { return std::make_unique<link::SerialBoardLink>(line.channels(), &clock); };
}

std::function<bool()> interrupting(const UpgradeStop& stop)
{
    return [&stop] { return stop.requested() || session::pendingStopSignal() != session::StopSignal::None; };
}

} // namespace fieldkit::cli
