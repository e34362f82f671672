#include "session/bench.h"

#include "core/com_port.h"
#include "core/numbers.h"
#include "session/endings.h"
#include "session/hints.h"
#include "session/pending_records.h"
#include "settings/port_devices.h"
#include "settings/profile.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <iomanip>
#include <memory>
#include <set>
#include <sstream>
#include <thread>

namespace fieldkit::session {
namespace {

constexpr const char* kNotRead = "not read";
constexpr const char* kBenchSection = "Bench";
constexpr const char* kPortsKey = "Ports";
// "COM1,COM2,COM3,COM4" and its NUL.
constexpr std::size_t kPortsValueBuffer = 20;

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

std::string secondsText(double seconds)
{
    std::ostringstream text;
    text << std::fixed << std::setprecision(1) << seconds << " s";
    return text.str();
}

// What every port's run shares; each run owns everything else.
struct BenchRuns {
    const BenchPlan& plan;
    BenchView& view;
    UpgradeStop& stop;
    const std::function<bool()>& stopping;
    const LoadedFirmware& firmware;
    const std::string& settingsVersion;
};

// One whole upgrade on one port, as a single run does it, with its own link.
void runPort(const BenchRuns& bench, const BenchLine& line, std::size_t row, PortOutcome& ended)
{
    const auto started = std::chrono::steady_clock::now();
    const Place place = placeFor(ended.port, bench.plan.settingsFile, line.emulatedBoard);
    const UpgradePlan plan{place, bench.settingsVersion, bench.plan.firmwareDirectory, &bench.firmware};
    const Outcome outcome =
        runUpgrade(plan, {line.makeLink, bench.view.port(row), bench.stop, line.clock, bench.stopping});
    ended.device = place.device;
    ended.started = true;
    ended.report = outcome.report;
    ended.result = outcome.result;
    ended.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    ended.failureHint = outcome.failureHint;
    ended.adapterHint = outcome.adapterHint;
    ended.recorded = outcome.recorded;
    bench.view.portEnded(row, ended);
}

} // namespace

std::optional<std::vector<int>> parseBenchPorts(std::string_view text)
{
    std::vector<int> ports;
    std::istringstream parts{std::string(text)};
    std::string part;
    while (std::getline(parts, part, ',')) {
        part.erase(std::remove_if(part.begin(), part.end(), [](unsigned char c) { return std::isspace(c) != 0; }),
                   part.end());
        if (part.size() > 3 && std::equal(part.begin(), part.begin() + 3, "COM",
                                          [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }))
            part.erase(0, 3);
        const bool digitsOnly = !part.empty() && std::all_of(part.begin(), part.end(), [](unsigned char c) {
            return std::isdigit(c) != 0;
        });
        const auto port = digitsOnly ? parseNumber(part) : std::nullopt;
        if (!port || *port < static_cast<std::uint64_t>(kLowestPort) || *port > static_cast<std::uint64_t>(kHighestPort))
            return std::nullopt;
        ports.push_back(static_cast<int>(*port));
    }
    if (ports.empty())
        return std::nullopt;
    return ports;
}

std::vector<int> readBenchPorts(const std::filesystem::path& settingsFile)
{
    const auto ports =
        parseBenchPorts(settings::readProfileString(settingsFile, kBenchSection, kPortsKey, "", kPortsValueBuffer));
    return ports ? *ports : std::vector<int>{};
}

bool writeBenchPorts(const std::filesystem::path& settingsFile, const std::vector<int>& ports, std::string* error)
{
    std::string value;
    for (int port : ports)
        value += (value.empty() ? "" : ",") + comPortName(port);
    return settings::writeProfileString(settingsFile, kBenchSection, kPortsKey, value, error);
}

std::optional<std::string> benchPortsConflict(const std::vector<int>& ports, const std::filesystem::path& settingsFile,
                                              bool simulated)
{
    std::set<int> seen;
    for (int port : ports)
        if (!seen.insert(port).second)
            return comPortName(port) + " is given twice; give each port once";
    if (simulated)
        return std::nullopt;
    for (std::size_t later = 1; later < ports.size(); ++later)
        for (std::size_t earlier = 0; earlier < later; ++earlier) {
            const auto first = settings::serialDeviceFor(ports[earlier], settingsFile).device;
            const auto second = settings::serialDeviceFor(ports[later], settingsFile).device;
            if (settings::sameDevice(first, second))
                return comPortName(ports[later]) + " (" + second + ") is the same device as " +
                       comPortName(ports[earlier]) + " (" + first +
                       "); two runs would drive one board at once: map each port to a cable of its own";
        }
    return std::nullopt;
}

std::vector<flash::RunResult> BenchOutcome::results() const
{
    std::vector<flash::RunResult> results;
    for (const PortOutcome& port : ports)
        results.push_back(port.result);
    return results;
}

BenchOutcome runBench(const BenchPlan& plan, BenchView& view, UpgradeStop& stop, const std::function<bool()>& stopping)
{
    const RecordPending recordPending;
    if (const auto hint = unreadableSettingsHint(plan.settingsFile); !hint.empty())
        view.files().notice(hint);
    const std::string settingsVersion = settings::readFirmwareVersionSetting(plan.settingsFile);
    const LoadedFirmware firmware = loadFirmware(view.files(), plan.firmwareDirectory, stopping);

    BenchOutcome bench;
    bench.filesUsable = firmware.usable;
    for (int port : plan.ports) {
        PortOutcome outcome;
        outcome.port = port;
        bench.ports.push_back(outcome);
    }
    if (!firmware.usable) {
        // No board is touched, and none of the lines is made: an emulated board would be
        // started only to be recorded. Every port's run is recorded with the files' cause.
        for (std::size_t row = 0; row < bench.ports.size(); ++row) {
            PortOutcome& outcome = bench.ports[row];
            const Place place = plan.simulated ? Place{outcome.port, {}, true} : placeFor(outcome.port, plan.settingsFile);
            outcome.device = place.device;
            outcome.report = firmware.report;
            outcome.result = firmware.report.result();
            outcome.failureHint = firmware.failureHint;
            outcome.recorded = recordUnstarted(place, settingsVersion, firmware.report);
            view.portEnded(row, outcome);
        }
        return bench;
    }

    // Every line is made, and every emulated board started, before any run begins.
    std::vector<BenchLine> lines;
    for (int port : plan.ports)
        lines.push_back(plan.line(port));
    view.runsStarting();
    const BenchRuns runs{plan, view, stop, stopping, firmware, settingsVersion};
    std::vector<std::thread> threads;
    for (std::size_t row = 0; row < bench.ports.size(); ++row)
        threads.emplace_back([&runs, &lines, &bench, row] { runPort(runs, lines[row], row, bench.ports[row]); });
    view.whileRunning();
    for (auto& thread : threads)
        thread.join();
    return bench;
}

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

SummaryRow summaryRow(const PortOutcome& outcome)
{
    const auto& report = outcome.report;
    return {comPortName(outcome.port),
            report.esnRead ? report.identity.esnText : kNotRead,
            report.versionRead ? report.identity.boardVersionText : kNotRead,
            resultText(outcome.result),
            secondsText(outcome.seconds),
            outcome.result == flash::RunResult::Failure ? firstLine(report.message) : ""};
}

std::string whereBoardStands(const PortOutcome& outcome)
{
    switch (outcome.result) {
    case flash::RunResult::Success: return "The upgrade had completed: the board holds the new firmware.";
    case flash::RunResult::Failure: return "The upgrade had failed: " + firstLine(outcome.report.message);
    case flash::RunResult::Declined: return "The upgrade was declined: nothing was written to the board.";
    case flash::RunResult::Interrupted: return afterStopText(outcome.report.stage);
    }
    return {};
}

std::vector<std::string> whereBoardsStand(const BenchOutcome& outcome)
{
    std::vector<std::string> lines;
    const auto stopped = [](const PortOutcome& port) { return port.result == flash::RunResult::Interrupted; };
    if (std::any_of(outcome.ports.begin(), outcome.ports.end(), stopped))
        for (const PortOutcome& port : outcome.ports)
            lines.push_back(comPortName(port.port) + ": " + whereBoardStands(port));
    return lines;
}

} // namespace fieldkit::session
