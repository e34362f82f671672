#include "sim/board_endpoint.h"

namespace fieldkit::sim {

BoardEndpoint::BoardEndpoint(const BoardOptions& options)
    : board_(options), noiseOneIn_(options.noiseOneIn), dropOneIn_(options.dropOneIn),
      deadAfterBytes_(options.deadAfterBytes), random_(options.seed)
{
    if (!options.requestLogFile.empty())
        requestLog_ = std::make_unique<RequestLog>(options.requestLogFile);
}

std::vector<std::uint8_t> BoardEndpoint::receive(std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    std::vector<std::uint8_t> reply;
    for (std::uint8_t byte : bytes) {
        const bool deadBefore = lineDead();
        ++counters_.wireBytesIn;
        if (deadBefore) {
            ++counters_.bytesLost;
            continue;
        }
        const auto arrived = passLine(byte);
        if (!arrived)
            continue;
        const auto request = decoder_.feed(*arrived);
        if (!request)
            continue;
        const auto out = answer(*request);
        counters_.wireBytesOut += out.size();
        // The board still executes a request whose last byte made it before the cable was
        // pulled; only its answer is lost.
        if (lineDead()) {
            counters_.bytesLost += out.size();
            continue;
        }
        for (std::uint8_t answerByte : out)
            if (const auto sent = passLine(answerByte))
                reply.push_back(*sent);
    }
    counters_.badFrames = decoder_.badFrames();
    return reply;
}

void BoardEndpoint::lineIdle()
{
    std::lock_guard lock(mutex_);
    decoder_.gap();
    counters_.badFrames = decoder_.badFrames();
}

std::vector<std::uint8_t> BoardEndpoint::answer(const wire::Request& request)
{
    // A host that missed an answer sends the same frame again (same control byte, same
    // CRC). Executing it twice would, say, program a page twice or count a failed
    // attempt twice, so the board repeats its answer instead.
    if (lastAnswer_ && lastAnswer_->control == request.control && lastAnswer_->crc == request.crc) {
        ++counters_.repeats;
        if (requestLog_)
            requestLog_->write(request, true, lastAnswer_->answer);
        return lastAnswer_->answer;
    }
    auto out = board_.handle(request);
    ++counters_.requests;
    if (requestLog_)
        requestLog_->write(request, false, out);
    if (request.kind != wire::FrameKind::Read)
        counters_.payloadBytesIn += request.payload.size();
    if (request.kind != wire::FrameKind::Write && !out.empty() && out.front() == wire::kAck)
        counters_.payloadBytesOut += out.size() - 1 - wire::kCrcSize;
    // A ping starts a new conversation, whose sequence numbers start afresh.
    if (request.kind == wire::FrameKind::Ping)
        lastAnswer_.reset();
    else
        lastAnswer_ = RememberedAnswer{request.control, request.crc, out};
    return out;
}

std::optional<std::uint8_t> BoardEndpoint::passLine(std::uint8_t byte)
{
    if (dropOneIn_ != 0 && oneIn(dropOneIn_)) {
        ++counters_.bytesLost;
        return std::nullopt;
    }
    if (noiseOneIn_ != 0 && oneIn(noiseOneIn_)) {
        ++counters_.bytesCorrupted;
        byte ^= static_cast<std::uint8_t>(1 + random_() % 255); // never 0: the byte does change
    }
    return byte;
}

bool BoardEndpoint::oneIn(unsigned n)
{
    // Plain modulo of the engine's output: std::mt19937 is fully specified, the standard
    // distributions are not, and a seed must give the same faults on every machine.
    return random_() % n == 0;
}

bool BoardEndpoint::lineDead() const
{
    return deadAfterBytes_ && counters_.wireBytesIn >= *deadAfterBytes_;
}

std::vector<std::uint8_t> BoardEndpoint::flashSnapshot() const
{
    std::lock_guard lock(mutex_);
    const auto flash = board_.flash();
    return {flash.begin(), flash.end()};
}

LineCounters BoardEndpoint::counters() const
{
    std::lock_guard lock(mutex_);
    return counters_;
}

BoardCounters BoardEndpoint::boardCounters() const
{
    std::lock_guard lock(mutex_);
    return board_.counters();
}

std::string BoardEndpoint::lastDumpError() const
{
    std::lock_guard lock(mutex_);
    return board_.lastDumpError();
}

} // namespace fieldkit::sim
