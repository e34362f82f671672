// The wire cost and the speed of programming pages through the board link: each page is the
// flash layer's three writes (block select, 256 data bytes, 6-byte commit) sent through
// SerialBoardLink, to a frame-level board over an in-memory line (the host's own speed), and
// through the real serial channel to the emulated board on a pseudo-terminal; one request at a
// time, and streamed through the write window as writeRegion sends a region.

#include "core/clock.h"
#include "flash/flash_programmer.h"
#include "link/board_connection.h"
#include "link/serial_board_link.h"
#include "link/serial_port.h"
#include "sim/pty_host.h"
#include "tests/link/frame_board.h"

#include <benchmark/benchmark.h>

#include <array>
#include <cstdlib>
#include <numeric>
#include <optional>
#include <vector>
#include <string>

namespace fieldkit::link {
namespace {

constexpr int kPort = 1;
constexpr std::uint16_t kSelectBlock = 0x011A;
constexpr std::uint16_t kPageData = 0x0000;
constexpr std::uint16_t kPageCommit = 0xFFFF;
constexpr double kCharactersPerSecond = kQm7731BaudRate / 10.0; // start, 8 data and stop bits

// A board connection's settings, and the ping that tells the link how much the board holds.
void openLink(SerialBoardLink& link)
{
    LinkTimers timers;
    link.BriskDllInit(kRadioModel, kModelNumber, kLargestRead, kBoardAddress);
    link.ReadTimers(timers);
    timers.words[TIMER_INTER_BYTE_GAP_MS] = 50;
    timers.words[TIMER_ANSWER_TIMEOUT_MS] = 200;
    timers.words[TIMER_TRIES] = 7;
    link.ConfigureTimers(timers);
    std::array<std::uint8_t, wire::kPingAnswerSize> reply{};
    link.Ping_Opt_Board(kPort, reply.data());
    link.OpenPort(kPort);
}

// A region of 64 pages with a counting pattern, as writeRegion sends the boot code.
std::vector<std::uint8_t> countingRegion()
{
    std::vector<std::uint8_t> region(64 * flash::kPageSize);
    std::iota(region.begin(), region.end(), std::uint8_t{0});
    return region;
}

void reportLinkCounters(benchmark::State& state, const SerialBoardLink& link, std::size_t pages)
{
    const auto& stats = link.statistics();
    const double wireBytes = static_cast<double>(stats.wireBytesSent + stats.wireBytesReceived);
    const double wirePerPayload = stats.payloadBytes != 0 ? wireBytes / static_cast<double>(stats.payloadBytes) : 0;
    state.counters["wire_bytes_per_payload_byte"] = wirePerPayload;
    state.counters["pages_per_second"] = benchmark::Counter(static_cast<double>(pages), benchmark::Counter::kIsRate);
    // What the line itself allows at 115200 baud, whatever the host's speed.
    const double wireBytesPerPage = pages != 0 ? wireBytes / static_cast<double>(pages) : 0;
    state.counters["line_pages_per_second"] = wireBytesPerPage != 0 ? kCharactersPerSecond / wireBytesPerPage : 0;
    state.counters["retries"] = static_cast<double>(stats.retries);
    state.SetBytesProcessed(static_cast<std::int64_t>(pages) * 256);
}

void pageWriteStream(benchmark::State& state, std::size_t pagesPerGarbledAnswer)
{
    FrameBoard board;
    SerialBoardLink link(memoryLines(board));
    openLink(link);
    std::array<std::uint8_t, 256> page{};
    std::iota(page.begin(), page.end(), std::uint8_t{0});
    const std::uint8_t select = 0;
    std::uint32_t flashAddress = 0xA0000;

    std::size_t pages = 0;
    for (auto _ : state) {
        if (pagesPerGarbledAnswer != 0 && pages % pagesPerGarbledAnswer == 0)
            board.faults = {Fault::None, Fault::CorruptAnswer};
        const std::array<std::uint8_t, 6> commit{0x0A,
                                                 0x0B,
                                                 0x0C,
                                                 static_cast<std::uint8_t>(flashAddress),
                                                 static_cast<std::uint8_t>(flashAddress >> 8),
                                                 static_cast<std::uint8_t>(flashAddress >> 16)};
        if (link.WriteDataOnly(kPort, &select, kSelectBlock, 1, 0) != 0 ||
            link.WriteDataOnly(kPort, page.data(), kPageData, 256, 0) != 0 ||
            link.WriteDataOnly(kPort, commit.data(), kPageCommit, 6, 0) != 0) {
            state.SkipWithError("a page write failed");
            break;
        }
        flashAddress = flashAddress + 256 > 0xEFFFF ? 0xA0000 : flashAddress + 256;
        board.received.clear();
        board.executedAddresses.clear();
        ++pages;
    }

    reportLinkCounters(state, link, pages);
}

void BM_PageWriteStream(benchmark::State& state) { pageWriteStream(state, 0); }
BENCHMARK(BM_PageWriteStream);

// One garbled answer in every 16 pages, each costing one resend of the 256-byte data write.
void BM_PageWriteStreamWithGarbledAnswers(benchmark::State& state) { pageWriteStream(state, 16); }
BENCHMARK(BM_PageWriteStreamWithGarbledAnswers);

// Regions through writeRegion to the frame-level board: one request at a time (a board of
// protocol version 1), or streamed through a window of 1024 bytes.
void regionWrites(benchmark::State& state, std::optional<std::uint16_t> receiveBuffer)
{
    FrameBoard board;
    board.receiveBuffer = receiveBuffer;
    SerialBoardLink link(memoryLines(board));
    openLink(link);
    SystemClock clock;
    flash::FlashProgrammer programmer(link, clock);
    const auto region = countingRegion();
    std::size_t pages = 0;
    for (auto _ : state) {
        if (programmer.writeRegion(kPort, region, flash::kProgrammableFirst, nullptr) != 0) {
            state.SkipWithError("a region write failed");
            break;
        }
        board.received.clear();
        board.executedAddresses.clear();
        board.sent.clear();
        pages += region.size() / flash::kPageSize;
    }
    reportLinkCounters(state, link, pages);
}

void BM_RegionOneAtATime(benchmark::State& state) { regionWrites(state, std::nullopt); }
BENCHMARK(BM_RegionOneAtATime);
void BM_RegionStreamed(benchmark::State& state) { regionWrites(state, 1024); }
BENCHMARK(BM_RegionStreamed);

// The same pages through QtSerialChannel to lodestar-sim's board on a pseudo-terminal at full
// speed: what the host, the serial stack and the emulator manage together, line time aside.
// One request at a time as writePage sends them, or whole regions streamed by writeRegion.
void overPseudoTerminal(benchmark::State& state, bool streamed)
{
    sim::PtyBoardHost host(sim::BoardOptions{});
    std::string error;
    if (!host.start(&error)) {
        state.SkipWithError(error.c_str());
        return;
    }
    SerialBoardLink link(serialPortChannels([device = host.devicePath()](int) { return device; }));
    openLink(link);
    SystemClock clock;
    flash::FlashProgrammer programmer(link, clock);
    if (programmer.sendCommand(kPort, flash::CMD_PROGRAMMING_MODE) != 0) {
        state.SkipWithError("the emulated board refused programming mode");
        return;
    }
    const auto region = countingRegion();
    const auto page = std::span(region).first<flash::kPageSize>();
    std::uint32_t flashAddress = flash::kProgrammableFirst;

    std::size_t pages = 0;
    for (auto _ : state) {
        const int result = streamed ? programmer.writeRegion(kPort, region, flash::kProgrammableFirst, nullptr)
                                    : programmer.writePage(kPort, page, flashAddress);
        if (result != 0) {
            state.SkipWithError("a page write failed");
            break;
        }
        flashAddress = flashAddress + flash::kPageSize > flash::kProgrammableLast ? flash::kProgrammableFirst
                                                                                 : flashAddress + flash::kPageSize;
        pages += streamed ? region.size() / flash::kPageSize : 1;
    }
    reportLinkCounters(state, link, pages);
    link.ClosePort();
}

void BM_PageWriteStreamOverPseudoTerminal(benchmark::State& state) { overPseudoTerminal(state, false); }
BENCHMARK(BM_PageWriteStreamOverPseudoTerminal)->UseRealTime()->MinTime(2.0);
void BM_RegionStreamedOverPseudoTerminal(benchmark::State& state) { overPseudoTerminal(state, true); }
BENCHMARK(BM_RegionStreamedOverPseudoTerminal)->UseRealTime()->MinTime(2.0);

} // namespace
} // namespace fieldkit::link

BENCHMARK_MAIN();
