// Records seed inputs for the link and board harnesses from real traffic: the link session
// of fuzz/link_answers.h run against emulated boards, each with one fault. The answers the
// host read become link_answers seeds, the bytes the host sent (with its silences) become
// board_requests seeds.
//
// Usage: fuzz_record_seeds CORPUS_DIR   (writes CORPUS_DIR/link_answers/* and board_requests/*)

#include "fuzz/chunk_stream.h"
#include "fuzz/link_answers.h"
#include "sim/board_endpoint.h"
#include "sim/board_options.h"
#include "sim/in_memory_channel.h"

#include <filesystem>
#include <fstream>
#include <iostream>
#include <string>
#include <utility>
#include <vector>

namespace fieldkit::fuzz {
namespace {

struct Recording {
    std::vector<std::uint8_t> answers;   // what every read of the host returned
    std::vector<std::uint8_t> hostBytes; // what the host sent, and where the line fell silent
};

class RecordingChannel final : public wire::ByteChannel {
public:
    RecordingChannel(sim::BoardEndpoint& endpoint, Recording& recording) : line_(endpoint), recording_(recording) {}

    wire::OpenResult open() override { return line_.open(); }
    void close() override { line_.close(); }
    bool isOpen() const override { return line_.isOpen(); }
    bool write(std::span<const std::uint8_t> bytes) override
    {
        appendChunk(recording_.hostBytes, bytes);
        return line_.write(bytes);
    }
    std::size_t read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override
    {
        const std::size_t arrived = line_.read(into, timeout);
        appendChunk(recording_.answers, into.first(arrived));
        if (arrived == 0)
            appendChunk(recording_.hostBytes, {}); // the board saw its frame gap
        return arrived;
    }
    void discardInput() override { line_.discardInput(); }

private:
    sim::InMemoryChannel line_;
    Recording& recording_;
};

void save(const std::filesystem::path& file, const std::vector<std::uint8_t>& bytes)
{
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

} // namespace
} // namespace fieldkit::fuzz

int main(int argc, char** argv)
{
    using namespace fieldkit;
    if (argc != 2) {
        std::cerr << "usage: fuzz_record_seeds CORPUS_DIR\n";
        return 2;
    }
    const std::filesystem::path corpus = argv[1];
    const std::vector<std::pair<std::string, std::vector<std::string>>> boards{
        {"good-board", {}},
        {"parameters-refused", {"--fail-read", "0x4100", "--fail-read-len", "0x0D00:15"}},
        {"programming-mode-refused", {"--fail-command", "0x1201"}},
        {"verify-rejected", {"--reject-verify", "boot"}},
        {"no-ping", {"--no-ping"}},
        {"noisy-line", {"--noise", "40", "--seed", "7"}},
        {"lossy-line", {"--drop", "60", "--seed", "3"}},
    };
    try {
        for (const auto& [name, options] : boards) {
            sim::BoardEndpoint endpoint(sim::parseBoardOptions(options));
            fuzz::Recording recording;
            link::SerialBoardLink boardLink([&](int) {
                return std::make_unique<fuzz::RecordingChannel>(endpoint, recording);
            });
            fuzz::runLinkSession(boardLink, 2, [] { return true; }, [](const fuzz::StepOutcome&) {});
            fuzz::save(corpus / "link_answers" / name, recording.answers);
            fuzz::save(corpus / "board_requests" / name, recording.hostBytes);
        }
    } catch (const std::exception& e) {
        std::cerr << "fuzz_record_seeds: " << e.what() << '\n';
        return 1;
    }
    std::cout << "seeds written to " << corpus.string() << '\n';
    return 0;
}
