#pragma once

#include "cli/console.h"
#include "session/front_end.h"

#include <functional>
#include <ostream>
#include <string>

namespace fieldkit::cli {

// An upgrade's progress as terminal output: each status text on a line of its own, a progress
// bar over the pages with the percentage the desktop program shows in its caption, and the
// final text. On a terminal the bar is redrawn in place; into a file or pipe it is written as
// a line at every tenth of the way, so logs stay short. A bar redrawn in place is made
// shorter on a narrow terminal, so it never wraps.
class TerminalNotices {
public:
    TerminalNotices(std::ostream& out, bool redrawInPlace, std::function<int()> columns = terminalColumns);

    void show(const session::ProgressEvent& event);

private:
    void pageWritten(const session::PageWritten& page);
    void line(const std::string& text);

    std::ostream& out_;
    bool redrawInPlace_;
    std::function<int()> columns_;
    int lastTenthShown_ = -1;
    bool progressLineOpen_ = false;
};

} // namespace fieldkit::cli
