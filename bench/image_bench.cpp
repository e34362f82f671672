// How long building an upgrade's image takes from the sample firmware files, against the
// reference converter srec_cat turning the same application file into a binary, and how the
// loader copes with 100 MB files.

#include "core/prompts.h"
#include "image/config_block.h"
#include "image/firmware_files.h"
#include "image/firmware_image.h"
#include "image/parameter_trailer.h"
#include "image/srecord_loader.h"
#include "tests/support/srecord_writer.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace fieldkit;

const fs::path kExamples = FIELDKIT_EXAMPLES_DIR;

// The sample files load without a question; any box means the benchmark measures the wrong thing.
class NoBoxes final : public Prompts {
public:
    void error(FailureKind, const std::string&) override { shown = true; }
    Answer question(QuestionKind, const std::string&) override
    {
        shown = true;
        return Answer::No;
    }
    void warning(WarningKind, const std::string&) override { shown = true; }
    bool shown = false;
};

void BM_BuildImageFromSampleFiles(benchmark::State& state)
{
    for (auto _ : state) {
        image::FirmwareImage firmware;
        NoBoxes prompts;
        if (image::loadFirmwareFiles(firmware, prompts, kExamples) != image::LoadOutcome::GoOn || prompts.shown) {
            state.SkipWithError("the sample firmware in examples/ did not load cleanly");
            break;
        }
        image::writeDefaultConfigBlock(0, image::kUpgradeConfigSlot, firmware, image::kUpgradeConfigSlotBase);
        image::writeImageHeader(firmware);
        image::BoardParameterTrailer trailer;
        trailer.fillFromEsn(0x12345678);
        trailer.storeInImage(firmware);
        benchmark::DoNotOptimize(image::imageChecksum(firmware.region(image::BootRegion)));
        benchmark::DoNotOptimize(image::imageChecksum(firmware.region(image::ApplicationRegion)));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                            static_cast<std::int64_t>(fs::file_size(kExamples / image::kBootFileName) +
                                                      fs::file_size(kExamples / image::kApplicationFileName)));
}
BENCHMARK(BM_BuildImageFromSampleFiles)->Unit(benchmark::kMillisecond)->Repetitions(15)->ReportAggregatesOnly(true);

void BM_SrecCatConvertsApplicationFile(benchmark::State& state)
{
    const std::string srecCat = FIELDKIT_SREC_CAT;
    if (srecCat.empty()) {
        state.SkipWithError("srec_cat not found (Debian package srecord)");
        return;
    }
    const fs::path out = fs::temp_directory_path() / "fieldkit-bench-srec_cat.bin";
    const std::string command = "'" + srecCat + "' '" + (kExamples / image::kApplicationFileName).string() + "' -o '" +
                                out.string() + "' -binary";
    for (auto _ : state) {
        if (std::system(command.c_str()) != 0) {
            state.SkipWithError("srec_cat failed");
            break;
        }
    }
    fs::remove(out);
}
BENCHMARK(BM_SrecCatConvertsApplicationFile)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// 100 MB files, written once: random bytes, and valid records that cycle over the region.
constexpr std::size_t kHugeFileSize = 100u << 20;

fs::path hugeGarbageFile()
{
    const fs::path file = fs::temp_directory_path() / "fieldkit-bench-garbage.s19";
    if (!fs::exists(file) || fs::file_size(file) != kHugeFileSize) {
        std::mt19937_64 random(5);
        std::vector<std::uint64_t> block(kHugeFileSize / 8);
        for (auto& word : block)
            word = random();
        std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(block.data()), kHugeFileSize);
    }
    return file;
}

fs::path hugeRecordsFile()
{
    const fs::path file = fs::temp_directory_path() / "fieldkit-bench-records.s19";
    if (fs::exists(file) && fs::file_size(file) >= kHugeFileSize)
        return file;
    std::ofstream out(file, std::ios::binary);
    std::size_t written = 0;
    for (std::uint32_t record = 0; written < kHugeFileSize; ++record) {
        // S2, 32 data bytes of the record number, address cycling through the application region.
        const std::uint32_t address = 0xA0000 + (record * 32) % 0x50000;
        const std::string line =
            testing::srecord(2, address, std::vector<std::uint8_t>(32, static_cast<std::uint8_t>(record))) + "\n";
        out << line;
        written += line.size();
    }
    out << "S804000000FB\n";
    return file;
}

void loadHugeFile(benchmark::State& state, const fs::path& file, bool expectErrors)
{
    image::FirmwareImage firmware;
    for (auto _ : state) {
        const image::SrecordReadResult read =
            image::SrecordReadFile(file, firmware.bytes(), image::kApplicationFileFlag);
        if (read.result != image::kSrecordProcessed || read.errors != expectErrors) {
            state.SkipWithError(("unexpected load result: " + read.firstError).c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * fs::file_size(file)));
}

void BM_LoaderOn100MBOfGarbage(benchmark::State& state)
{
    loadHugeFile(state, hugeGarbageFile(), true);
}
BENCHMARK(BM_LoaderOn100MBOfGarbage)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_LoaderOn100MBOfRecords(benchmark::State& state)
{
    loadHugeFile(state, hugeRecordsFile(), false);
}
BENCHMARK(BM_LoaderOn100MBOfRecords)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
