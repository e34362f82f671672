#include "cli/bench_display.h"

#include "core/progress_text.h"

#include <algorithm>

namespace fieldkit::cli {
namespace {

// A page takes a few milliseconds on the line; four boards redrawing after every page would
// flood the terminal, so progress alone redraws at most this often.
constexpr std::chrono::milliseconds kRedrawInterval{100};

constexpr const char* kCursorUpLines = "\x1b[";   // followed by the count and 'A'
constexpr const char* kClearBelow = "\r\x1b[J";     // from the cursor to the screen's end

constexpr int kUnknownColumns = 80;
constexpr std::size_t kPortWidth = 6;        // "COM1  "
constexpr std::size_t kEsnWidth = 4 + 13;    // "ESN -2147483648  "
constexpr std::size_t kStatusWidth = 34;     // the longest status text, and a space
constexpr std::size_t kShortestStatus = 12;  // below this, the ESN makes room

std::string padded(std::string text, std::size_t width)
{
    text.resize(width, ' ');
    return text;
}

} // namespace


std::string benchLine(const std::string& port, const std::string& esn, const std::string& status,
                      const std::string& percent, int columns)
{
    const std::size_t width = static_cast<std::size_t>(columns > 1 ? columns - 1 : kUnknownColumns - 1);
    std::string line = padded(port, kPortWidth);
    const std::size_t esnShown = width >= kPortWidth + kEsnWidth + kShortestStatus + percent.size() ? kEsnWidth : 0;
    if (esnShown != 0)
        line += padded("ESN " + esn, kEsnWidth);
    const std::size_t room = width > line.size() + percent.size() ? width - line.size() - percent.size() : 0;
    const std::size_t statusWidth = std::min(room, kStatusWidth);
    // A cut status keeps a space before the percentage.
    line += padded(status.substr(0, statusWidth > 0 ? statusWidth - 1 : 0), statusWidth) + percent;
    if (line.size() > width)
        line.resize(width);
    // Trailing blanks would take rows of their own where a narrowed terminal wraps the line.
    line.erase(line.find_last_not_of(' ') + 1);
    return line;
}

BenchDisplay::BenchDisplay(std::ostream& out, bool redrawInPlace, std::vector<int> ports, std::function<int()> columns)
    : out_(out), redrawInPlace_(redrawInPlace), columns_(std::move(columns))
{
    for (int port : ports) {
        Row row;
        row.port = comPortName(port);
        rows_.push_back(row);
    }
    const std::lock_guard guard(lock_);
    if (redrawInPlace_)
        draw();
}

void BenchDisplay::esnRead(std::size_t row, const std::string& esnText)
{
    const std::lock_guard guard(lock_);
    rows_[row].esn = esnText;
    changed(row, "ESN " + esnText, true);
}

void BenchDisplay::status(std::size_t row, const std::string& text)
{
    const std::lock_guard guard(lock_);
    rows_[row].status = text;
    changed(row, text, true);
}

void BenchDisplay::progress(std::size_t row, int pagesDone, int pageCount)
{
    const auto title = progressTitle(pagesDone, pageCount);
    if (!title)
        return;
    const std::lock_guard guard(lock_);
    Row& shown = rows_[row];
    shown.percent = *title;
    const int tenth = pagesDone * 10 / pageCount;
    if (redrawInPlace_) {
        changed(row, {}, false);
    } else if (tenth != shown.lastTenthShown) {
        shown.lastTenthShown = tenth;
        changed(row, title->substr(title->find_first_not_of(' ')), true);
    }
}

void BenchDisplay::showBox(std::size_t row, const std::function<void()>& show)
{
    std::unique_lock guard(lock_);
    BoxRequest request{row, show, rows_[row].status};
    if (redrawInPlace_) {
        rows_[row].status = "waiting to ask";
        changed(row, {}, true);
    }
    boxesWaiting_.push_back(&request);
    boxesChanged_.notify_all();
    boxesChanged_.wait(guard, [&request] { return request.shown; });
    if (request.failure)
        std::rethrow_exception(request.failure);
}

void BenchDisplay::serveBoxes()
{
    std::unique_lock guard(lock_);
    for (;;) {
        boxesChanged_.wait(guard, [this] { return !boxesWaiting_.empty() || runsEnded_ == rows_.size(); });
        if (boxesWaiting_.empty())
            return;
        BoxRequest& request = *boxesWaiting_.front();
        boxesWaiting_.pop_front();
        if (redrawInPlace_)
            erase();
        boxOpen_ = true;
        guard.unlock();
        try {
            request.show();
        } catch (...) {
            request.failure = std::current_exception();
        }
        guard.lock();
        boxOpen_ = false;
        rows_[request.row].status = request.statusBefore;
        if (redrawInPlace_) {
            draw();
        } else {
            for (const auto& line : heldLines_)
                out_ << line << '\n';
            heldLines_.clear();
            out_ << std::flush;
        }
        request.shown = true;
        boxesChanged_.notify_all();
    }
}

void BenchDisplay::runEnded()
{
    const std::lock_guard guard(lock_);
    ++runsEnded_;
    boxesChanged_.notify_all();
}

void BenchDisplay::close()
{
    const std::lock_guard guard(lock_);
    if (redrawInPlace_)
        draw();
}

void BenchDisplay::changed(std::size_t row, const std::string& plainLine, bool urgent)
{
    if (!redrawInPlace_) {
        const std::string line = rows_[row].port + ": " + plainLine;
        if (boxOpen_) {
            heldLines_.push_back(line);
            return;
        }
        out_ << line << '\n' << std::flush;
        return;
    }
    if (boxOpen_)
        return;
    if (!urgent && std::chrono::steady_clock::now() - lastDraw_ < kRedrawInterval)
        return;
    draw();
}

// The lines drawn last are found again by going up as many screen rows as they take now: a
// terminal made narrower since wraps them anew. Everything below is cleared, so no row of a
// longer line is left behind.
std::size_t BenchDisplay::drawnRows(int columns) const
{
    const std::size_t width = static_cast<std::size_t>(columns > 0 ? columns : kUnknownColumns);
    std::size_t rows = 0;
    for (const std::size_t length : drawnLengths_)
        rows += length > width ? (length + width - 1) / width : 1;
    return rows;
}

void BenchDisplay::draw()
{
    const int columns = columns_ ? columns_() : 0;
    if (drawn_)
        out_ << kCursorUpLines << drawnRows(columns) << 'A';
    out_ << kClearBelow;
    drawnLengths_.clear();
    for (const Row& row : rows_) {
        const std::string line = benchLine(row.port, row.esn, row.status, row.percent, columns);
        out_ << line << '\n';
        drawnLengths_.push_back(line.size());
    }
    out_ << std::flush;
    drawn_ = true;
    lastDraw_ = std::chrono::steady_clock::now();
}

void BenchDisplay::erase()
{
    if (!drawn_)
        return;
    out_ << kCursorUpLines << drawnRows(columns_ ? columns_() : 0) << 'A' << kClearBelow << std::flush;
    drawn_ = false;
}

void BenchPortView::progress(const session::ProgressEvent& event)
{
    std::visit(session::EventHandlers{
                   [this](const session::StepEntered& step) { display_.status(row_, step.text); },
                   [this](const session::PageWritten& page) {
                       display_.progress(row_, static_cast<int>(page.pagesDone), static_cast<int>(page.pageCount));
                   },
                   // Unknown, the ESN stays "?"; the version read after it changes nothing here.
                   [this](const session::BoardIdentified& board) {
                       if (board.esnText.empty() || board.esnText == esnShown_)
                           return;
                       esnShown_ = board.esnText;
                       display_.esnRead(row_, board.esnText);
                   },
                   [this](const session::FinalText& final) { display_.status(row_, final.text); },
                   [](const session::ProgressBegun&) {}, [](const session::RunFinished&) {}},
               event);
}

void BenchPortView::error(FailureKind kind, const std::string& text)
{
    display_.showBox(row_, [&] { board_.error(kind, text); });
}

Answer BenchPortView::question(QuestionKind kind, const std::string& text)
{
    Answer answer = Answer::No;
    display_.showBox(row_, [&] {
        if (!stopping_())
            answer = board_.question(kind, text);
    });
    return answer;
}

void BenchPortView::warning(WarningKind kind, const std::string& text)
{
    display_.showBox(row_, [&] { board_.warning(kind, text); });
}

} // namespace fieldkit::cli
