#include "cli/bench_display.h"

#include "core/progress_text.h"

#include <iomanip>
#include <sstream>

namespace fieldkit::cli {
namespace {

// A page takes a few milliseconds on the line; four boards redrawing after every page would
// flood the terminal, so progress alone redraws at most this often.
constexpr std::chrono::milliseconds kRedrawInterval{100};

constexpr const char* kCursorUpLines = "\x1b[";   // followed by the count and 'A'
constexpr const char* kClearLine = "\r\x1b[2K";     // the whole line, cursor at its start
constexpr const char* kClearBelow = "\r\x1b[J";     // from the cursor to the screen's end

} // namespace


BenchDisplay::BenchDisplay(std::ostream& out, bool redrawInPlace, std::vector<int> ports)
    : out_(out), redrawInPlace_(redrawInPlace)
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

void BenchDisplay::draw()
{
    if (drawn_)
        out_ << kCursorUpLines << rows_.size() << 'A';
    for (const Row& row : rows_)
        out_ << kClearLine << lineOf(row) << '\n';
    out_ << std::flush;
    drawn_ = true;
    lastDraw_ = std::chrono::steady_clock::now();
}

void BenchDisplay::erase()
{
    if (!drawn_)
        return;
    out_ << kCursorUpLines << rows_.size() << 'A' << kClearBelow << std::flush;
    drawn_ = false;
}

std::string BenchDisplay::lineOf(const Row& row) const
{
    // Short enough for an 80-column terminal: a wrapped line would throw the redraw off.
    std::ostringstream line;
    line << std::left << std::setw(6) << row.port << "ESN " << std::setw(13) << row.esn << std::setw(34)
         << row.status.substr(0, 33) << row.percent;
    return line.str();
}

void BenchNotices::showEsnOnceRead()
{
    // The ESN comes from the parameter block or, failing that, its own read; unknown, it stays "?".
    if (esnShown_ || !report_.esnRead)
        return;
    esnShown_ = true;
    display_.esnRead(row_, report_.identity.esnText);
}

void BenchNotices::statusText(UpgradeStage, const char* constantText)
{
    showEsnOnceRead();
    display_.status(row_, constantText);
}

void BenchNotices::beginProgress(std::uint32_t pageCount)
{
    showEsnOnceRead();
    pageCount_ = static_cast<int>(pageCount);
    pagesDone_ = 0;
}

void BenchNotices::pageDone() { display_.progress(row_, ++pagesDone_, pageCount_); }

void BenchNotices::finalText(const std::string& text)
{
    showEsnOnceRead();
    display_.status(row_, text);
}

void BenchPrompts::error(FailureKind kind, const std::string& text)
{
    display_.showBox(row_, [&] { board_.error(kind, text); });
}

Answer BenchPrompts::question(QuestionKind kind, const std::string& text)
{
    Answer answer = Answer::No;
    display_.showBox(row_, [&] {
        if (!stopping_())
            answer = board_.question(kind, text);
    });
    return answer;
}

void BenchPrompts::warning(WarningKind kind, const std::string& text)
{
    display_.showBox(row_, [&] { board_.warning(kind, text); });
}

} // namespace fieldkit::cli
