#include "session/session.h"

#include "flash/upgrade_steps.h"
#include "history/history_record.h"
#include "link/stoppable_board_link.h"
#include "session/hints.h"
#include "session/pending_records.h"
#include "session/record.h"

#include <exception>

namespace fieldkit::session {
namespace {

constexpr const char* kUnexpectedUpgrade = "The upgrade stopped unexpectedly: ";
constexpr const char* kUnexpectedRead = "The board read stopped unexpectedly: ";

// Once a run is stopping, a question is answered No without a box: nobody is there to answer
// it. A question whose answer a stop cut short was not answered either.
class StoppingPrompts final : public Prompts {
public:
    StoppingPrompts(Prompts& prompts, std::function<bool()> stopping)
        : prompts_(prompts), stopping_(std::move(stopping))
    {
    }

    void setHints(HintSource hints) override { prompts_.setHints(std::move(hints)); }
    void error(FailureKind kind, const std::string& text) override { prompts_.error(kind, text); }
    void warning(WarningKind kind, const std::string& text) override { prompts_.warning(kind, text); }
    Answer question(QuestionKind kind, const std::string& text) override
    {
        const Answer answer = stopping_() ? Answer::No : prompts_.question(kind, text);
        unanswered_ = answer == Answer::No && stopping_();
        return answer;
    }

    // Any No ends a run, so an unanswered question is the last one the run recorded.
    void forgetUnanswered(flash::UpgradeReport& report) const
    {
        if (!unanswered_ || report.questions.empty())
            return;
        report.questions.pop_back();
        report.interrupted = true;
    }

private:
    Prompts& prompts_;
    std::function<bool()> stopping_;
    bool unanswered_ = false;
};

// Progress for nobody.
class NoNotices final : public UpgradeNotices {
public:
    bool hasWindow() const override { return false; }
    void statusText(UpgradeStage, const char*) override {}
    void beginProgress(std::uint32_t) override {}
    void pageDone() override {}
    void finalText(const std::string&) override {}
    void finished(int) override {}
};

std::function<bool()> stoppingOf(const Services& services)
{
    if (services.stopping)
        return services.stopping;
    return [&stop = services.stop] { return stop.anyRequested(); };
}

history::UpgradeRun historyRun(const char* command, const Place& place, const std::string& settingsVersion)
{
    history::UpgradeRun run(command);
    run.port = place.port;
    run.device = place.device;
    run.simulated = place.simulated;
    run.settingsVersion = settingsVersion;
    return run;
}

// The hints go with the run: they read its link and its report.
class HintsDuringRun {
public:
    HintsDuringRun(Prompts& prompts, Prompts::HintSource hints) : prompts_(prompts) { prompts_.setHints(std::move(hints)); }
    ~HintsDuringRun() { prompts_.setHints({}); }
    HintsDuringRun(const HintsDuringRun&) = delete;
    HintsDuringRun& operator=(const HintsDuringRun&) = delete;

private:
    Prompts& prompts_;
};

} // namespace

LoadedFirmware loadFirmware(Prompts& prompts, const std::filesystem::path& directory,
                            const std::function<bool()>& stopping)
{
    LoadedFirmware firmware;
    StoppingPrompts asked(prompts, stopping);
    {
        const auto& files = firmware.report.files;
        const HintsDuringRun hints(asked, [&files](const Cause& cause) { return firmwareFileHint(cause, files); });
        firmware.usable = flash::loadFirmwareFiles(*firmware.image, asked, directory, firmware.report) ==
                          image::LoadOutcome::GoOn;
    }
    asked.forgetUnanswered(firmware.report);
    if (!firmware.usable && !firmware.report.failure && stopping())
        firmware.report.interrupted = true;
    return firmware;
}

Outcome runUpgrade(const UpgradePlan& plan, const Services& services)
{
    const RecordPending recordPending;
    const history::UpgradeRun run = historyRun(history::kUpgradeCommand, plan.place, plan.settingsVersion);
    const auto stopping = stoppingOf(services);
    Outcome outcome;
    flash::UpgradeReport& report = services.report != nullptr ? *services.report : outcome.report;
    if (plan.firmware != nullptr) {
        report.files = plan.firmware->report.files;
        report.questions = plan.firmware->report.questions;
    }
    StoppingPrompts prompts(services.prompts, stopping);
    NoNotices noNotices;
    UpgradeNotices& notices = services.notices != nullptr ? *services.notices : noNotices;
    StoppableClock clock(services.clock, services.stop);
    try {
        const std::unique_ptr<link::BoardLink> boardLink = services.makeLink(clock);
        link::StoppableBoardLink link(*boardLink, services.stop);
        const FailureHints hints(link, plan.place.port, plan.place.device, report.files);
        const HintsDuringRun hinting(prompts, [&hints](const Cause& cause) { return hints.forCause(cause); });
        flash::SettingsFrame settings(plan.place.port, plan.settingsVersion);
        flash::UpgradeFrame& frame = plan.frame != nullptr ? *plan.frame : settings;
        flash::UpgradeWorker(frame, {link, clock, prompts, notices, plan.firmwareDirectory, &report, &services.stop,
                                     plan.firmware != nullptr ? plan.firmware->image.get() : nullptr});
        outcome.adapterHint = slowAdapterHint(link.details().statistics, plan.place.device);
    } catch (const std::exception& fault) {
        // The link could not even be set up: the run fails like any other, and a window
        // waiting for its end gets it.
        report.failure = FailureKind::Unexpected;
        report.message = kUnexpectedUpgrade + std::string(fault.what());
        prompts.error(FailureKind::Unexpected, report.message);
        if (notices.hasWindow()) {
            notices.finalText(flash::finalText(0));
            notices.finished(UPG_RESULT_FAILURE);
        }
    }
    prompts.forgetUnanswered(report);
    if (!report.succeeded && !report.failure && stopping())
        report.interrupted = true;
    outcome.result = report.result();
    outcome.recorded = recordRun(run, report);
    if (&report != &outcome.report)
        outcome.report = report;
    return outcome;
}

Recorded recordUnstarted(const Place& place, const std::string& settingsVersion,
                                           const flash::UpgradeReport& fileStage)
{
    const RecordPending recordPending;
    return recordRun(historyRun(history::kUpgradeCommand, place, settingsVersion), fileStage);
}

BoardReadOutcome readBoard(const Place& place, const std::string& settingsVersion, const Services& services,
                           const std::function<void(const link::BoardIdentity&)>& whileOpen)
{
    const RecordPending recordPending;
    const history::UpgradeRun run = historyRun(history::kInfoCommand, place, settingsVersion);
    const auto stopping = stoppingOf(services);
    BoardReadOutcome outcome;
    StoppableClock clock(services.clock, services.stop);
    std::unique_ptr<link::BoardLink> boardLink;
    try {
        boardLink = services.makeLink(clock);
    } catch (const std::exception& fault) {
        outcome.failure = link::ConnectionFailure{FailureKind::Unexpected, kUnexpectedRead + std::string(fault.what())};
    }
    if (boardLink != nullptr) {
        link::StoppableBoardLink link(*boardLink, services.stop);
        const std::vector<image::LoadedFile> noFiles;
        const FailureHints hints(link, place.port, place.device, noFiles);
        const HintsDuringRun hinting(services.prompts, [&hints](const Cause& cause) { return hints.forCause(cause); });
        // The information command runs its steps back to back, without the upgrade's pauses.
        link::BoardConnection connection(link, clock);
        outcome.failure = connection.readBoardInformation(place.port);
        outcome.identity = connection.identity();
        // A read that finished is a result, whatever came after it; a failure may be the
        // stop's doing.
        const bool interrupted = outcome.failure && stopping();
        const auto report = history::reportOfBoardRead(outcome.identity, outcome.failure, interrupted);
        outcome.result = report.result();
        outcome.recorded = recordRun(run, report);
        if (!outcome.failure && whileOpen)
            whileOpen(outcome.identity);
        connection.close();
        if (outcome.failure && !interrupted)
            services.prompts.error(outcome.failure->kind, outcome.failure->text);
        return outcome;
    }
    const auto report = history::reportOfBoardRead(outcome.identity, outcome.failure, false);
    outcome.result = report.result();
    outcome.recorded = recordRun(run, report);
    services.prompts.error(outcome.failure->kind, outcome.failure->text);
    return outcome;
}

} // namespace fieldkit::session
