// The push a run makes once its result is shown, as the run makes it, against the shop
// database and the history that FIELDKIT_HISTORY_DATABASE and FIELDKIT_HISTORY name
// (scripts/perf-shop.sh starts a server and pushes a history of 100,000 records first): with
// nothing appended since the last push, and with the run's own record appended.

#include "history/history_file.h"
#include "history/history_record.h"
#include "shop/outbox.h"

#include <benchmark/benchmark.h>

namespace {

using namespace fieldkit;

bool named(benchmark::State& state)
{
    if (shop::databaseNamed().empty() || history::historyFile().empty()) {
        state.SkipWithError("set FIELDKIT_HISTORY_DATABASE and FIELDKIT_HISTORY (scripts/perf-shop.sh does)");
        return false;
    }
    return true;
}

void BM_RunPushNothingNew(benchmark::State& state)
{
    if (!named(state))
        return;
    for (auto _ : state)
        if (!shop::sendWaitingRecords(history::historyFile()).empty())
            state.SkipWithError("the push warned");
}
BENCHMARK(BM_RunPushNothingNew)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

void BM_RunPushOneNewRecord(benchmark::State& state)
{
    if (!named(state))
        return;
    history::UpgradeRun run(history::kInfoCommand);
    flash::UpgradeReport report;
    for (auto _ : state) {
        state.PauseTiming();
        const auto notWritten = history::appendRecord(history::historyFile(), history::recordFor(run, report));
        state.ResumeTiming();
        if (notWritten || !shop::sendWaitingRecords(history::historyFile()).empty())
            state.SkipWithError("the record was not written or the push warned");
    }
}
BENCHMARK(BM_RunPushOneNewRecord)->Unit(benchmark::kMillisecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
