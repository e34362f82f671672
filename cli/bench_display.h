#pragma once

// The terminal of a bench run, shared by the boards upgraded at once: one line per port,
// and the boxes of every board shown one at a time.

#include "cli/console.h"
#include "core/com_port.h"
#include "core/prompts.h"
#include "session/front_end.h"

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

namespace fieldkit::cli {

// One port's live line fitted into a terminal of `columns` columns, the last one left free so
// the terminal never wraps it (a wrapped line would throw the redraw off): the port and the
// percentage stay, the status is cut, and the ESN goes when even a short status would not
// fit. 0 columns (not known) means 80.
std::string benchLine(const std::string& port, const std::string& esn, const std::string& status,
                      const std::string& percent, int columns);

// The progress of every port. On a terminal, one line per port (port, ESN once read, status
// text, percentage) redrawn in place below everything else; into a file or pipe, plain lines
// each prefixed with its port, the percentage at every tenth of the way. While a box is open
// nothing is drawn, so a box and its answer are never cut by another board's progress: the
// lines are drawn again, or the held plain lines written, once it closes. The lines fit the
// terminal's width, asked before every redraw, so a resized terminal is followed.
// The boxes are shown by the thread that serves them, the main one: a Ctrl+C reaches that
// thread and cuts a pending answer short. Every other member may be called from any thread.
class BenchDisplay {
public:
    BenchDisplay(std::ostream& out, bool redrawInPlace, std::vector<int> ports,
                 std::function<int()> columns = terminalColumns);

    // Row `row` belongs to the row-th port given.
    void esnRead(std::size_t row, const std::string& esnText);
    void status(std::size_t row, const std::string& text);
    void progress(std::size_t row, int pagesDone, int pageCount);

    // Has `show` (a box on the terminal) run by serveBoxes while no other box is open and
    // nothing is drawn, and waits for it; the row reads "waiting to ask" until its turn comes.
    void showBox(std::size_t row, const std::function<void()>& show);
    // Shows the boxes the boards' threads ask for, in turn, until runEnded has been called
    // once for every port.
    void serveBoxes();
    void runEnded();

    // Draws the lines a last time and leaves them in place.
    void close();

private:
    struct Row {
        std::string port;
        std::string esn = "?";
        std::string status = "starting";
        std::string percent;
        int lastTenthShown = -1;
    };

    // With the lock held:
    void changed(std::size_t row, const std::string& plainLine, bool urgent);
    void draw();
    void erase();
    std::size_t drawnRows(int columns) const;

    // A board's box waiting for the main thread, on that board's thread's stack.
    struct BoxRequest {
        std::size_t row;
        const std::function<void()>& show;
        std::string statusBefore; // shown again once the box has closed
        bool shown = false;
        std::exception_ptr failure = nullptr;
    };

    std::ostream& out_;
    bool redrawInPlace_;
    std::mutex lock_; // the rows, the output and the boxes waiting, held briefly
    std::condition_variable boxesChanged_;
    std::deque<BoxRequest*> boxesWaiting_;
    std::size_t runsEnded_ = 0;
    std::vector<Row> rows_;
    bool boxOpen_ = false;
    std::function<int()> columns_;
    bool drawn_ = false;
    std::vector<std::size_t> drawnLengths_; // of the lines on the screen, to find their top again
    std::vector<std::string> heldLines_;
    std::chrono::steady_clock::time_point lastDraw_;
};

// One board's run on its row of the display: its progress on the row, its boxes shown through
// its own prompts (with its port as prefix and its hints) one box at a time across the whole
// bench. A question whose turn comes after a stop was asked for is answered No without being
// shown: the run ends there either way. Runs on that board's thread.
class BenchPortView final : public session::RunView {
public:
    BenchPortView(Prompts& board, BenchDisplay& display, std::size_t row, std::function<bool()> stopping)
        : board_(board), display_(display), row_(row), stopping_(std::move(stopping))
    {
    }

    void setHints(HintSource hints) override { board_.setHints(std::move(hints)); }
    void error(FailureKind kind, const std::string& text) override;
    Answer question(QuestionKind kind, const std::string& text) override;
    void warning(WarningKind kind, const std::string& text) override;
    void progress(const session::ProgressEvent& event) override;

private:
    Prompts& board_;
    BenchDisplay& display_;
    std::size_t row_;
    std::function<bool()> stopping_;
    std::string esnShown_;
};

} // namespace fieldkit::cli
