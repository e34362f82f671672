#include "cli/bench_run.h"

#include "cli/bench_display.h"
#include "cli/console.h"
#include "cli/history_command.h"
#include "cli/interrupt.h"
#include "cli/session_wiring.h"
#include "core/column_table.h"
#include "session/bench.h"
#include "session/stop_signals.h"
#include "settings/app_settings.h"

#include <CLI/CLI.hpp>

#include <iostream>
#include <memory>
#include <optional>

namespace fieldkit::cli {
namespace {

// The bench on the terminal: the boxes about the files on stderr before anything else, then a
// line per port on stdout while every port's boxes wait their turn on stderr.
class TerminalBench final : public session::BenchView {
public:
    TerminalBench(const BenchPlan& plan, std::function<bool()> stopping)
        : plan_(plan), stopping_(std::move(stopping)), files_(std::cin, std::cerr, plan.policy)
    {
    }

    session::RunView& files() override { return files_; }

    // The lines are drawn only now, below whatever the files asked.
    void runsStarting() override
    {
        display_.emplace(std::cout, standardOutputIsTerminal(), plan_.ports);
        for (std::size_t row = 0; row < plan_.ports.size(); ++row) {
            auto& prompts = *boxes_.emplace_back(std::make_unique<TerminalPrompts>(std::cin, std::cerr, plan_.policy));
            prompts.setPrefix(comPortName(plan_.ports[row]) + ": ");
            views_.push_back(std::make_unique<BenchPortView>(prompts, *display_, row, stopping_));
        }
    }

    session::RunView& port(std::size_t row) override { return *views_[row]; }

    void portEnded(std::size_t row, const session::PortOutcome& outcome) override
    {
        warnIfNotRecorded(outcome.recorded, history::kUpgradeCommand, std::cerr);
        if (!display_)
            return;
        display_->status(row, session::resultText(outcome.result));
        display_->runEnded();
    }

    void whileRunning() override { display_->serveBoxes(); }

    void close()
    {
        if (display_)
            display_->close();
    }

private:
    const BenchPlan& plan_;
    std::function<bool()> stopping_;
    TerminalPrompts files_;
    std::optional<BenchDisplay> display_;
    std::vector<std::unique_ptr<TerminalPrompts>> boxes_;
    std::vector<std::unique_ptr<BenchPortView>> views_;
};

} // namespace

void checkBenchPorts(const BoardPortOptions& board, const std::vector<int>& ports)
{
    if (const auto conflict = session::benchPortsConflict(ports, settings::settingsFile(), board.simulate))
        throw CLI::ValidationError("--port", *conflict);
}

void printBenchSummary(std::ostream& out, const std::vector<session::PortOutcome>& outcomes)
{
    std::vector<std::vector<std::string>> table{{"Port", "ESN", "Version before", "Result", "Time", "Message"}};
    for (const auto& outcome : outcomes) {
        const session::SummaryRow row = session::summaryRow(outcome);
        table.push_back({row.port, row.esn, row.versionBefore, row.result, row.time, row.message});
    }
    writeColumns(out, table);
    out << std::flush;
}

int runBench(const BenchPlan& plan)
{
    session::catchStopSignals();
    UpgradeStop stop;
    const auto stopping = interrupting(stop);
    TerminalBench terminal(plan, stopping);

    // Each port's line, with its emulated board, made by the session once the files are usable.
    std::vector<std::unique_ptr<BoardLine>> lines;
    session::BenchPlan bench;
    bench.ports = plan.ports;
    bench.simulated = plan.board.simulate;
    bench.line = [&plan, &lines](int port) {
        BoardLine& line = *lines.emplace_back(std::make_unique<BoardLine>(plan.board, port, std::cerr));
        return session::BenchLine{boardLinks(line), line.emulatedBoard()};
    };
    session::BenchOutcome outcome;
    {
        const InterruptWatch watch(stop);
        outcome = session::runBench(bench, terminal, stop, stopping);
    }
    terminal.close();

    const session::StopSignal signal = session::pendingStopSignal();
    if (!outcome.filesUsable) {
        if (outcome.ports.front().result == flash::RunResult::Interrupted)
            std::cerr << session::afterStopText(UpgradeStage::LoadingFiles) << '\n';
        return session::exitStatusFor(outcome.results(), signal);
    }
    for (std::size_t row = 0; row < lines.size(); ++row)
        if (!lines[row]->emulatedBoard().empty()) {
            std::cerr << comPortName(plan.ports[row]) << ": ";
            lines[row]->report(std::cerr);
        }
    printBenchSummary(std::cout, outcome.ports);
    for (const auto& port : outcome.ports)
        if (!port.adapterHint.empty())
            std::cerr << comPortName(port.port) << ": " << port.adapterHint << '\n';
    // The session tells which runs a stop ended: a hang-up ends none that went past the erase.
    for (const std::string& line : session::whereBoardsStand(outcome))
        std::cerr << line << '\n';
    pushAfterRun(std::cerr);
    return session::exitStatusFor(outcome.results(), signal);
}

} // namespace fieldkit::cli
