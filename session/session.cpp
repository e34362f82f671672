#include "session/session.h"

#include "flash/upgrade_steps.h"
#include "flash/upgrade_worker.h"
#include "history/history_record.h"
#include "link/stoppable_board_link.h"
#include "session/hints.h"
#include "session/pending_records.h"
#include "session/record.h"
#include "settings/app_settings.h"

#include <exception>

namespace fieldkit::session {
namespace {

constexpr const char* kUnexpectedUpgrade = "The upgrade stopped unexpectedly: ";
constexpr const char* kUnexpectedRead = "The board read stopped unexpectedly: ";

// Once a run is stopping, a question is answered No without a box: nobody is there to answer
// it. A question whose answer a stop cut short was not answered either.
class StoppingPrompts final : public Prompts {
public:
    // `beforeBox`, when given, runs before each box is shown.
    StoppingPrompts(Prompts& prompts, std::function<bool()> stopping, std::function<void()> beforeBox = {})
        : prompts_(prompts), stopping_(std::move(stopping)), beforeBox_(std::move(beforeBox))
    {
    }

    void setHints(HintSource hints) override { prompts_.setHints(std::move(hints)); }
    void error(FailureKind kind, const std::string& text) override
    {
        comingBox();
        prompts_.error(kind, text);
    }
    void warning(WarningKind kind, const std::string& text) override
    {
        comingBox();
        prompts_.warning(kind, text);
    }
    Answer question(QuestionKind kind, const std::string& text) override
    {
        if (!stopping_())
            comingBox();
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
    void comingBox()
    {
        if (beforeBox_)
            beforeBox_();
    }

    Prompts& prompts_;
    std::function<bool()> stopping_;
    std::function<void()> beforeBox_;
    bool unanswered_ = false;
};

// The worker's notices as typed events for the view, with the board's ESN and version once
// the report holds them. Runs on the run's thread, as the worker does.
class ViewNotices final : public UpgradeNotices {
public:
    ViewNotices(RunView& view, const flash::UpgradeReport& report) : view_(view), report_(report) {}

    bool hasWindow() const override { return view_.showsProgress(); }
    void statusText(UpgradeStage stage, const char* constantText) override
    {
        identifyOnceRead();
        view_.progress(StepEntered{stage, constantText});
    }
    void beginProgress(std::uint32_t pageCount) override
    {
        identifyOnceRead();
        pageCount_ = pageCount;
        pagesDone_ = 0;
        view_.progress(ProgressBegun{pageCount});
    }
    void pageDone() override { view_.progress(PageWritten{++pagesDone_, pageCount_}); }
    void finalText(const std::string& text) override
    {
        identifyOnceRead();
        view_.progress(FinalText{text});
    }
    void finished(int result) override { view_.progress(RunFinished{result == UPG_RESULT_SUCCESS}); }

    // The ESN comes from the parameter block or its own read, the version after it; a box
    // about the board comes after both.
    void identifyOnceRead()
    {
        BoardIdentified read{report_.esnRead ? report_.identity.esnText : "",
                             report_.versionRead ? report_.identity.boardVersionText : ""};
        if (read.esnText == shown_.esnText && read.versionText == shown_.versionText)
            return;
        shown_ = read;
        view_.progress(std::move(read));
    }

private:
    RunView& view_;
    const flash::UpgradeReport& report_;
    BoardIdentified shown_;
    std::uint32_t pageCount_ = 0;
    std::uint32_t pagesDone_ = 0;
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

Place placeFor(int port, const std::filesystem::path& settingsFile, const std::string& emulatedBoard)
{
    if (!emulatedBoard.empty())
        return {port, emulatedBoard, true};
    return {port, history::deviceMeantBy(port, settingsFile), false};
}

int choosePort(std::optional<int> given, const std::filesystem::path& settingsFile, RunView& view)
{
    if (const auto hint = unreadableSettingsHint(settingsFile); !hint.empty())
        view.notice(hint);
    if (given)
        return *given;
    const auto setting = settings::readPortSetting(settingsFile);
    if (setting.invalid)
        view.warning(WarningKind::InvalidPortSetting, settings::kInvalidPortWarning);
    if (setting.withoutPrefix)
        view.notice(portWithoutPrefixHint(settingsFile));
    return setting.port;
}

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
        if (firmware.report.failure)
            firmware.failureHint = firmwareFileHint(*firmware.report.failure, files);
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
    flash::UpgradeReport& report = outcome.report;
    if (plan.firmware != nullptr) {
        report.files = plan.firmware->report.files;
        report.questions = plan.firmware->report.questions;
    }
    ViewNotices notices(services.view, report);
    StoppingPrompts prompts(services.view, stopping, [&notices] {
        if (notices.hasWindow())
            notices.identifyOnceRead();
    });
    StoppableClock clock(services.clock, services.stop);
    try {
        const std::unique_ptr<link::BoardLink> boardLink = services.makeLink(clock);
        link::StoppableBoardLink link(*boardLink, services.stop);
        const FailureHints hints(link, plan.place.port, plan.place.device, report.files);
        const HintsDuringRun hinting(prompts, [&hints](const Cause& cause) { return hints.forCause(cause); });
        // The port and the settings version are the plan's: the worker never reaches back
        // into a window for them.
        flash::SettingsFrame settings(plan.place.port, plan.settingsVersion);
        flash::UpgradeWorker(settings, {link, clock, prompts, notices, plan.firmwareDirectory, &report, &services.stop,
                                        plan.firmware != nullptr ? plan.firmware->image.get() : nullptr});
        if (report.failure)
            outcome.failureHint = hints.forCause(*report.failure);
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
    return outcome;
}

Recorded recordUnstarted(const Place& place, const std::string& settingsVersion, const flash::UpgradeReport& fileStage)
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
        const HintsDuringRun hinting(services.view, [&hints](const Cause& cause) { return hints.forCause(cause); });
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
            services.view.error(outcome.failure->kind, outcome.failure->text);
        return outcome;
    }
    const auto report = history::reportOfBoardRead(outcome.identity, outcome.failure, false);
    outcome.result = report.result();
    outcome.recorded = recordRun(run, report);
    services.view.error(outcome.failure->kind, outcome.failure->text);
    return outcome;
}

} // namespace fieldkit::session
