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

void TerminalNotices::show(const session::ProgressEvent& event)
{
    std::visit(session::EventHandlers{[this](const session::StepEntered& step) { line(step.text); },
                                      [this](const session::ProgressBegun&) { lastTenthShown_ = -1; },
                                      [this](const session::PageWritten& page) { pageWritten(page); },
                                      [this](const session::FinalText& final) { line(final.text); },
                                      [](const session::BoardIdentified&) {}, [](const session::RunFinished&) {}},
               event);
}

void TerminalNotices::pageWritten(const session::PageWritten& page)
{
    const int done = static_cast<int>(page.pagesDone);
    const int count = static_cast<int>(page.pageCount);
    const auto title = progressTitle(done, count);
    if (!title)
        return;
    int barWidth = kBarWidth;
    if (const int columns = redrawInPlace_ && columns_ ? columns_() : 0; columns > 0)
        barWidth = std::clamp(columns - 3 - kLongestTitle, 0, kBarWidth); // brackets and the last column left free
    const int filled = std::min(barWidth, done * barWidth / count);
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
    const int tenth = done * 10 / count;
    if (tenth != lastTenthShown_) {
        lastTenthShown_ = tenth;
        out_ << bar << '\n' << std::flush;
    }
}

void TerminalNotices::line(const std::string& text)
{
    if (progressLineOpen_)
        out_ << '\n';
    progressLineOpen_ = false;
    out_ << text << '\n' << std::flush;
}

} // namespace fieldkit::cli
