#include "cli/bench_run.h"

#include "cli/bench_display.h"
#include "cli/console.h"
#include "cli/exit_status.h"
#include "cli/hints.h"
#include "cli/history_command.h"
#include "cli/interrupt.h"
#include "cli/settings_frame.h"
#include "cli/upgrade_command.h"
#include "flash/upgrade_worker.h"
#include "image/firmware_files.h"
#include "link/serial_board_link.h"
#include "settings/app_settings.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <exception>
#include <iomanip>
#include <iostream>
#include <memory>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>

namespace fieldkit::cli {
namespace {

constexpr const char* kNotRead = "not read";

const char* resultText(BenchResult result)
{
    switch (result) {
    case BenchResult::Success: return "success";
    case BenchResult::Failed: return "failed";
    case BenchResult::Declined: return "declined";
    case BenchResult::Interrupted: return "interrupted";
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
    const image::FirmwareImage& image;
    const std::vector<image::LoadedFile>& files;
    std::string settingsVersion;
    BenchDisplay& display;
    UpgradeStop& stop;
    std::mutex finishedTurn;
};

// The watch passes Ctrl+C on to the stop a moment after it has cut a pending answer short.
bool stopping(const UpgradeStop& stop) { return stop.requested() || pendingInterrupt() != InterruptSignal::None; }

// One whole upgrade on one port, as a single run does it, with its own link and worker.
void runPort(BenchShared& shared, BoardLine& line, std::size_t row, PortOutcome& outcome)
{
    const auto started = std::chrono::steady_clock::now();
    history::UpgradeRun run(history::kUpgradeCommand);
    run.port = outcome.port;
    run.device = line.deviceFor(outcome.port);
    run.simulated = shared.plan.board.simulate;
    run.settingsVersion = shared.settingsVersion;
    flash::UpgradeReport& report = outcome.report;
    report.files = shared.files;
    try {
        SettingsFrame frame(outcome.port, shared.settingsVersion);
        StoppableClock clock(nullptr, shared.stop);
        link::SerialBoardLink boardLink(line.channels(), &clock);
        const FailureHints hints(boardLink, outcome.port, run.device, report.files);
        TerminalPrompts terminal(std::cin, std::cerr, shared.plan.policy);
        terminal.setPrefix(portName(outcome.port) + ": ");
        terminal.setHints([&hints](const Cause& cause) { return hints.forCause(cause); });
        BenchPrompts prompts(terminal, shared.display, row, [&shared] { return stopping(shared.stop); });
        BenchNotices notices(shared.display, row, report);
        flash::UpgradeWorker(frame, {boardLink, clock, prompts, notices, ".", &report, &shared.stop, &shared.image});
        outcome.adapterHint = slowAdapterHint(boardLink.statistics(), run.device);
    } catch (const std::exception& failure) {
        // The link could not even be set up; the other boards go on.
        report.failure = FailureKind::Unexpected;
        report.message = std::string("The upgrade stopped unexpectedly: ") + failure.what();
    }
    outcome.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    outcome.result = resultOf(report, endedBy(pendingInterrupt(), report.stage, report.succeeded));
    shared.display.status(row, resultText(outcome.result));
    {
        const std::lock_guard turn(shared.finishedTurn);
        report.interrupted = report.interrupted || outcome.result == BenchResult::Interrupted;
        recordInHistory(run, report, std::cerr);
    }
    shared.display.runEnded();
}

// Where each board stands after Ctrl+C, as a single run tells it.
void tellInterrupted(const std::vector<PortOutcome>& outcomes)
{
    for (const auto& outcome : outcomes) {
        const std::string port = portName(outcome.port) + ": ";
        switch (outcome.result) {
        case BenchResult::Success:
            std::cerr << port << "The upgrade had completed: the board holds the new firmware.\n";
            break;
        case BenchResult::Failed:
            std::cerr << port << "The upgrade had failed: " << firstLine(outcome.report.message) << '\n';
            break;
        case BenchResult::Declined:
            std::cerr << port << "The upgrade was declined: nothing was written to the board.\n";
            break;
        case BenchResult::Interrupted:
            std::cerr << port << interruptedUpgradeText(outcome.report.stage) << '\n';
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
            throw CLI::ValidationError("--port", portName(port) + " is given twice; give each port once");
}

BenchResult resultOf(const flash::UpgradeReport& report, bool stopRequested)
{
    if (report.succeeded)
        return BenchResult::Success;
    if (report.failure)
        return BenchResult::Failed;
    if (report.interrupted || stopRequested)
        return BenchResult::Interrupted;
    return report.declined() ? BenchResult::Declined : BenchResult::Failed;
}

void printBenchSummary(std::ostream& out, const std::vector<PortOutcome>& outcomes)
{
    std::vector<std::vector<std::string>> table{{"Port", "ESN", "Version before", "Result", "Time", "Message"}};
    for (const auto& outcome : outcomes) {
        const auto& report = outcome.report;
        table.push_back({portName(outcome.port), report.esnRead ? report.identity.esnText : kNotRead,
                         report.versionRead ? report.identity.boardVersionText : kNotRead, resultText(outcome.result),
                         secondsText(outcome.seconds),
                         outcome.result == BenchResult::Failed ? firstLine(report.message) : ""});
    }
    std::vector<std::size_t> widths(table.front().size(), 0);
    for (const auto& line : table)
        for (std::size_t column = 0; column < line.size(); ++column)
            widths[column] = std::max(widths[column], line[column].size());
    for (const auto& line : table) {
        std::string text;
        for (std::size_t column = 0; column < line.size(); ++column) {
            text += line[column];
            if (column + 1 < line.size())
                text += std::string(widths[column] - line[column].size() + 2, ' ');
        }
        text.erase(text.find_last_not_of(' ') + 1);
        out << text << '\n';
    }
    out << std::flush;
}

int benchExitStatus(const std::vector<PortOutcome>& outcomes)
{
    const auto any = [&outcomes](BenchResult result) {
        return std::any_of(outcomes.begin(), outcomes.end(),
                           [result](const PortOutcome& outcome) { return outcome.result == result; });
    };
    if (any(BenchResult::Failed) || any(BenchResult::Interrupted))
        return kExitFailed;
    return any(BenchResult::Declined) ? kExitDeclined : kExitDone;
}

int runBench(const BenchPlan& plan)
{
    installInterruptHandlers();
    const RecordPending recordPending;
    const auto settingsFile = settings::settingsFile();
    if (const auto hint = unreadableSettingsHint(settingsFile); !hint.empty())
        std::cerr << hint << '\n';

    // The firmware files are the same for every board: read, check and ask about them once,
    // before any board is touched.
    auto image = std::make_unique<image::FirmwareImage>();
    std::vector<image::LoadedFile> files;
    TerminalPrompts filePrompts(std::cin, std::cerr, plan.policy);
    filePrompts.setHints([&files](const Cause& cause) { return firmwareFileHint(cause, files); });
    const bool filesUsable = image::loadFirmwareFiles(*image, filePrompts, ".", &files) == image::LoadOutcome::GoOn;
    if (const InterruptSignal signal = pendingInterrupt(); signal != InterruptSignal::None) {
        std::cerr << interruptedUpgradeText(UpgradeStage::LoadingFiles) << '\n';
        return exitStatusFor(signal);
    }
    if (!filesUsable)
        return filePrompts.declined() ? kExitDeclined : kExitFailed;

    // Each port's line, with its emulated board started before any run does.
    std::vector<std::unique_ptr<BoardLine>> lines;
    for (int port : plan.ports)
        lines.push_back(std::make_unique<BoardLine>(plan.board, port, std::cerr));

    std::vector<PortOutcome> outcomes;
    for (int port : plan.ports)
        outcomes.push_back({port, {}, 0, BenchResult::Failed, {}});
    BenchDisplay display(std::cout, standardOutputIsTerminal(), plan.ports);
    UpgradeStop stop;
    BenchShared shared{
        plan, *image, files, settings::readFirmwareVersionSetting(settingsFile), display, stop, {}};
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
            std::cerr << portName(plan.ports[row]) << ": ";
            lines[row]->report(std::cerr);
        }
    printBenchSummary(std::cout, outcomes);
    for (const auto& outcome : outcomes)
        if (!outcome.adapterHint.empty())
            std::cerr << portName(outcome.port) << ": " << outcome.adapterHint << '\n';
    if (const InterruptSignal signal = pendingInterrupt(); signal != InterruptSignal::None) {
        const bool anyEnded = std::any_of(outcomes.begin(), outcomes.end(), [signal](const PortOutcome& outcome) {
            return endedBy(signal, outcome.report.stage, outcome.report.succeeded);
        });
        if (anyEnded) {
            tellInterrupted(outcomes);
            return exitStatusFor(signal);
        }
    }
    return benchExitStatus(outcomes);
}

} // namespace fieldkit::cli
