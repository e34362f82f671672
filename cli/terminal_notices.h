#pragma once

#include "cli/console.h"
#include "core/upgrade_notices.h"

#include <functional>
#include <ostream>
#include <string>

namespace fieldkit::cli {

// An upgrade's notices as terminal output: each status text on a line of its own, a progress
// bar over the pages with the percentage the desktop program shows in its caption, and the
// final text. On a terminal the bar is redrawn in place; into a file or pipe it is written as
// a line at every tenth of the way, so logs stay short. A bar redrawn in place is made
// shorter on a narrow terminal, so it never wraps.
class TerminalNotices final : public UpgradeNotices {
public:
    TerminalNotices(std::ostream& out, bool redrawInPlace, std::function<int()> columns = terminalColumns);

    bool hasWindow() const override { return true; }
    void statusText(UpgradeStage stage, const char* constantText) override;
    void beginProgress(std::uint32_t pageCount) override;
    void pageDone() override;
    void finalText(const std::string& text) override;
    void finished(int result) override { result_ = result; }

    int result() const { return result_; }

private:
    void endProgressLine();

    std::ostream& out_;
    bool redrawInPlace_;
    std::function<int()> columns_;
    int pageCount_ = 0;
    int pagesDone_ = 0;
    int lastTenthShown_ = -1;
    bool progressLineOpen_ = false;
    int result_ = UPG_RESULT_FAILURE;
};

} // namespace fieldkit::cli
