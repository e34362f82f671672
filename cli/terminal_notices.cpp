#include "cli/terminal_notices.h"

#include "core/progress_text.h"

#include <algorithm>

namespace fieldkit::cli {
namespace {

constexpr int kBarWidth = 40;
constexpr int kLongestTitle = 12; // " 100.0% Done"

} // namespace

TerminalNotices::TerminalNotices(std::ostream& out, bool redrawInPlace, std::function<int()> columns)
    : out_(out), redrawInPlace_(redrawInPlace), columns_(std::move(columns))
{
}

void TerminalNotices::statusText(UpgradeStage, const char* constantText)
{
    endProgressLine();
    out_ << constantText << '\n' << std::flush;
}

void TerminalNotices::beginProgress(std::uint32_t pageCount)
{
    pageCount_ = static_cast<int>(pageCount);
    pagesDone_ = 0;
    lastTenthShown_ = -1;
}

void TerminalNotices::pageDone()
{
    ++pagesDone_;
    const auto title = progressTitle(pagesDone_, pageCount_);
    if (!title)
        return;
    int barWidth = kBarWidth;
    if (const int columns = redrawInPlace_ && columns_ ? columns_() : 0; columns > 0)
        barWidth = std::clamp(columns - 3 - kLongestTitle, 0, kBarWidth); // brackets and the last column left free
    const int filled = std::min(barWidth, pagesDone_ * barWidth / pageCount_);
    // Appended piece by piece into one string: GCC 12 at -O3 takes "[" + std::string(...)
    // for overlapping copies and warns (-Wrestrict), which a -Werror build cannot pass.
    std::string bar;
    bar.reserve(static_cast<std::size_t>(barWidth) + 2 + title->size());
    bar += '[';
    bar.append(static_cast<std::size_t>(filled), '#');
    bar.append(static_cast<std::size_t>(barWidth - filled), '.');
    bar += ']';
    bar += *title;
    if (redrawInPlace_) {
        out_ << '\r' << bar << std::flush;
        progressLineOpen_ = true;
        return;
    }
    const int tenth = pagesDone_ * 10 / pageCount_;
    if (tenth != lastTenthShown_) {
        lastTenthShown_ = tenth;
        out_ << bar << '\n' << std::flush;
    }
}

void TerminalNotices::finalText(const std::string& text)
{
    endProgressLine();
    out_ << text << '\n' << std::flush;
}

void TerminalNotices::endProgressLine()
{
    if (progressLineOpen_)
        out_ << '\n';
    progressLineOpen_ = false;
}

} // namespace fieldkit::cli
