#pragma once

// What a front end writes to show a run: one view per run (its boxes and its progress) and, for
// a bench, one view of the whole bench. Every member has a body that shows nothing, and a
// question nobody is shown is answered No, so a front end starts from these and overrides only
// what it shows. Nothing of the run itself lives in a view: the session runs it.

#include "core/causes.h"
#include "core/prompts.h"
#include "flash/upgrade_report.h"
#include "session/record.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <variant>

namespace fieldkit::session {

// The progress of one run as it goes. Each event owns what it carries, so it may be handed to
// another thread and shown there later, in the order the events came.
struct StepEntered {
    UpgradeStage stage;
    std::string text; // the status text of the step: "Erasing flash blocks"
};
struct ProgressBegun {
    std::uint32_t pageCount; // pages that will be written, the whole bar
};
struct PageWritten {
    std::uint32_t pagesDone;
    std::uint32_t pageCount;
};
// The board's ESN and firmware version once read; "" for what the run has not read.
struct BoardIdentified {
    std::string esnText;
    std::string versionText;
};
struct FinalText {
    std::string text; // "Ready - Took 0 minutes and 35 seconds", or "Ready" for a run that stopped
};
struct RunFinished {
    bool succeeded;
};
using ProgressEvent = std::variant<StepEntered, ProgressBegun, PageWritten, BoardIdentified, FinalText, RunFinished>;

// One handler for each kind of event, for std::visit: EventHandlers{[](const StepEntered&) {...}, ...}.
template <typename... Handlers>
struct EventHandlers : Handlers... {
    using Handlers::operator()...;
};

// One run's boxes and progress. The boxes come with their hints through Prompts::setHints;
// everything is called on the run's own thread.
class RunView : public Prompts {
public:
    void error(FailureKind, const std::string&) override {}
    Answer question(QuestionKind, const std::string&) override { return Answer::No; }
    void warning(WarningKind, const std::string&) override {}

    // Whether progress is shown at all right now (a window that is going away shows none).
    virtual bool showsProgress() const { return true; }
    virtual void progress(const ProgressEvent&) {}
    // Advice that belongs to no box: a settings file that cannot be read, say.
    virtual void notice(const std::string&) {}
};

// How one port's run of a bench ended.
struct PortOutcome {
    int port = 0;
    std::string device;            // what the port meant for the run, as its record tells it
    bool started = false;          // false: the firmware files stopped it before a board was touched
    flash::UpgradeReport report;
    flash::RunResult result = flash::RunResult::Failure;
    double seconds = 0;            // from the run's start to its record
    std::string failureHint;       // the hint of the box that stopped the run; "" when none
    std::string adapterHint;       // a slow cable adapter; "" when it was quick enough
    Recorded recorded;
};

// A bench as a front end shows it. `files` asks about the firmware files once for every board.
// Once they are usable, `runsStarting` comes, then each port's run asks for `port`, the view of
// the row-th port's run (rows in the order the ports were given), on that run's thread;
// `portEnded` comes on the same thread once the run is recorded (for files that were not
// usable, on the bench's thread and without `runsStarting`). `whileRunning` is called on the
// bench's thread while the runs go and may return before they end (a terminal serves its boxes
// there until they have).
class BenchView {
public:
    virtual ~BenchView() = default;

    virtual RunView& files() { return nobody_; }
    virtual void runsStarting() {}
    virtual RunView& port(std::size_t) { return nobody_; }
    virtual void portEnded(std::size_t, const PortOutcome&) {}
    virtual void whileRunning() {}

private:
    RunView nobody_;
};

} // namespace fieldkit::session
