#include "cli/bench_run.h"

#include "cli/bench_display.h"
#include "cli/console.h"
#include "cli/history_command.h"
#include "cli/interrupt.h"
#include "cli/session_wiring.h"
#include "core/column_table.h"
#include "session/endings.h"
#include "session/hints.h"
#include "session/pending_records.h"
#include "session/session.h"
#include "session/stop_signals.h"
#include "settings/app_settings.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <iomanip>
#include <iostream>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

namespace fieldkit::cli {
namespace {

constexpr const char* kNotRead = "not read";

const char* resultText(flash::RunResult result)
{
    switch (result) {
    case flash::RunResult::Success: return "success";
    case flash::RunResult::Failure: return "failed";
    case flash::RunResult::Declined: return "declined";
    case flash::RunResult::Interrupted: return "interrupted";
    }
    return "failed";
}

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string secondsText(double seconds)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << seconds << " s";
    return text.str();
}

// What every port's run shares; each run owns everything else.
struct BenchShared {
    const BenchPlan& plan;
    const session::LoadedFirmware& firmware;
    std::string settingsVersion;
    BenchDisplay& display;
    UpgradeStop& stop;
};

// One whole upgrade on one port, as a single run does it, with its own link.
void runPort(BenchShared& shared, BoardLine& line, std::size_t row, PortOutcome& outcome)
{
    const auto started = std::chrono::steady_clock::now();
    session::UpgradePlan plan;
    plan.place = {outcome.port, line.deviceFor(outcome.port), shared.plan.board.simulate};
    plan.settingsVersion = shared.settingsVersion;
    plan.firmware = &shared.firmware;
    TerminalPrompts terminal(std::cin, std::cerr, shared.plan.policy);
    terminal.setPrefix(comPortName(outcome.port) + ": ");
    const auto stopping = interrupting(shared.stop);
    BenchPrompts prompts(terminal, shared.display, row, stopping);
    flash::UpgradeReport live;
    BenchNotices notices(shared.display, row, live);
    session::Services services{boardLinks(line), prompts, shared.stop, &notices, nullptr, stopping, &live};
    const session::Outcome run = session::runUpgrade(plan, services);
    outcome.report = run.report;
    outcome.result = run.result;
    outcome.adapterHint = run.adapterHint;
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    shared.display.status(row, resultText(outcome.result));
    warnIfNotRecorded(run.recorded, history::kUpgradeCommand, std::cerr);
    shared.display.runEnded();
}

// Where each board stands after Ctrl+C, as a single run tells it.
void tellInterrupted(const std::vector<PortOutcome>& outcomes)
{
    for (const auto& outcome : outcomes) {
        const std::string port = comPortName(outcome.port) + ": ";
        switch (outcome.result) {
        case flash::RunResult::Success:
            std::cerr << port << "The upgrade had completed: the board holds the new firmware.\n";
            break;
        case flash::RunResult::Failure:
            std::cerr << port << "The upgrade had failed: " << firstLine(outcome.report.message) << '\n';
            break;
        case flash::RunResult::Declined:
            std::cerr << port << "The upgrade was declined: nothing was written to the board.\n";
            break;
        case flash::RunResult::Interrupted:
            std::cerr << port << session::afterStopText(outcome.report.stage) << '\n';
            break;
        }
    }
}

} // namespace

void checkBenchPorts(const std::vector<int>& ports)
{
    std::set<int> seen;
    for (int port : ports)
        if (!seen.insert(port).second)
            throw CLI::ValidationError("--port", comPortName(port) + " is given twice; give each port once");
}

void printBenchSummary(std::ostream& out, const std::vector<PortOutcome>& outcomes)
{
    std::vector<std::vector<std::string>> table{{"Port", "ESN", "Version before", "Result", "Time", "Message"}};
    for (const auto& outcome : outcomes) {
        const auto& report = outcome.report;
        table.push_back({comPortName(outcome.port), report.esnRead ? report.identity.esnText : kNotRead,
                         report.versionRead ? report.identity.boardVersionText : kNotRead, resultText(outcome.result),
                         secondsText(outcome.seconds),
                         outcome.result == flash::RunResult::Failure ? firstLine(report.message) : ""});
    }
    writeColumns(out, table);
    out << std::flush;
}

int runBench(const BenchPlan& plan)
{
    session::catchStopSignals();
    const session::RecordPending recordPending;
    const auto settingsFile = settings::settingsFile();
    if (const auto hint = session::unreadableSettingsHint(settingsFile); !hint.empty())
        std::cerr << hint << '\n';

    // The firmware files are the same for every board: read, check and ask about them once,
    // before any board is touched.
    const std::string settingsVersion = settings::readFirmwareVersionSetting(settingsFile);
    TerminalPrompts filePrompts(std::cin, std::cerr, plan.policy);
    const session::LoadedFirmware firmware = session::loadFirmware(filePrompts, ".", [] {
        return session::pendingStopSignal() != session::StopSignal::None;
    });
    if (!firmware.usable) {
        // No board is touched, but every port's run is recorded with the cause.
        for (int port : plan.ports) {
            const BoardLine line(plan.board, port, std::cerr);
            warnIfNotRecorded(
                session::recordUnstarted({port, line.deviceFor(port), plan.board.simulate}, settingsVersion,
                                         firmware.report),
                history::kUpgradeCommand, std::cerr);
        }
        if (firmware.report.result() == flash::RunResult::Interrupted)
            std::cerr << session::afterStopText(UpgradeStage::LoadingFiles) << '\n';
        return session::exitStatusFor(firmware.report.result(), session::pendingStopSignal());
    }

    // Each port's line, with its emulated board started before any run does.
    std::vector<std::unique_ptr<BoardLine>> lines;
    for (int port : plan.ports)
        lines.push_back(std::make_unique<BoardLine>(plan.board, port, std::cerr));

    std::vector<PortOutcome> outcomes;
    for (int port : plan.ports)
        outcomes.push_back({port, {}, 0, flash::RunResult::Failure, {}});
    BenchDisplay display(std::cout, standardOutputIsTerminal(), plan.ports);
    UpgradeStop stop;
    BenchShared shared{plan, firmware, settingsVersion, display, stop};
    {
        const InterruptWatch watch(stop);
        std::vector<std::thread> runs;
        for (std::size_t row = 0; row < outcomes.size(); ++row)
            runs.emplace_back([&shared, &lines, &outcomes, row] { runPort(shared, *lines[row], row, outcomes[row]); });
        display.serveBoxes();
        for (auto& run : runs)
            run.join();
    }
    display.close();

    if (plan.board.simulate)
        for (std::size_t row = 0; row < lines.size(); ++row) {
            std::cerr << comPortName(plan.ports[row]) << ": ";
            lines[row]->report(std::cerr);
        }
    printBenchSummary(std::cout, outcomes);
    for (const auto& outcome : outcomes)
        if (!outcome.adapterHint.empty())
            std::cerr << comPortName(outcome.port) << ": " << outcome.adapterHint << '\n';
    pushAfterRun(std::cerr);
    // The session tells which runs a stop ended: a hang-up ends none that went past the erase.
    std::vector<flash::RunResult> results;
    for (const auto& outcome : outcomes)
        results.push_back(outcome.result);
    const session::StopSignal signal = session::pendingStopSignal();
    if (signal != session::StopSignal::None &&
        std::find(results.begin(), results.end(), flash::RunResult::Interrupted) != results.end())
        tellInterrupted(outcomes);
    return session::exitStatusFor(results, signal);
}

} // namespace fieldkit::cli
