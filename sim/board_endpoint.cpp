#include "sim/board_endpoint.h"

namespace fieldkit::sim {

BoardEndpoint::BoardEndpoint(const BoardOptions& options)
    : board_(options), noiseOneIn_(options.noiseOneIn), dropOneIn_(options.dropOneIn),
      deadAfterBytes_(options.deadAfterBytes), random_(options.seed), receiveBuffer_(options.receiveBufferBytes),
      // A board that holds several requests must answer a resend of any of them again.
      answersRemembered_(options.protocolVersion == wire::kWindowProtocolVersion ? wire::kMaxRequestsInFlight : 1)
{
    if (!options.requestLogFile.empty())
        requestLog_ = std::make_unique<RequestLog>(options.requestLogFile);
}

std::vector<std::uint8_t> BoardEndpoint::receive(std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    std::vector<LineAnswer> answers;
    feed(bytes, answers);
    std::vector<std::uint8_t> reply;
    for (const LineAnswer& answer : answers) {
        reply.insert(reply.end(), answer.bytes.begin(), answer.bytes.end());
        awaitingAnswer_ -= answer.requestBytes;
    }
    return reply;
}

std::vector<LineAnswer> BoardEndpoint::receiveHolding(std::span<const std::uint8_t> bytes)
{
    std::lock_guard lock(mutex_);
    std::vector<LineAnswer> answers;
    feed(bytes, answers);
    return answers;
}

void BoardEndpoint::answerSent(std::size_t requestBytes)
{
    std::lock_guard lock(mutex_);
    awaitingAnswer_ -= requestBytes;
}

std::size_t BoardEndpoint::bytesUntilDecided() const
{
    std::lock_guard lock(mutex_);
    return decoder_.bytesUntilDecided();
}

void BoardEndpoint::feed(std::span<const std::uint8_t> bytes, std::vector<LineAnswer>& answers)
{
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
        // The receive buffer holds the request under way and those whose answers have not
        // left yet; a byte that finds it full is lost, and spoils its frame.
        if (decoder_.heldBytes() + awaitingAnswer_ >= receiveBuffer_) {
            ++counters_.bytesOverrun;
            continue;
        }
        const std::size_t heldBefore = decoder_.heldBytes();
        const auto request = decoder_.feed(*arrived);
        if (!request)
            continue;
        const std::size_t requestBytes = heldBefore + 1;
        const auto out = answer(*request);
        counters_.wireBytesOut += out.size();
        LineAnswer sent{{}, requestBytes};
        awaitingAnswer_ += requestBytes;
        // The board still executes a request whose last byte made it before the cable was
        // pulled; only its answer is lost.
        if (lineDead()) {
            counters_.bytesLost += out.size();
        } else {
            for (std::uint8_t answerByte : out)
                if (const auto passed = passLine(answerByte))
                    sent.bytes.push_back(*passed);
        }
        answers.push_back(std::move(sent));
    }
    counters_.badFrames = decoder_.badFrames();
}

void BoardEndpoint::lineIdle()
{
    std::lock_guard lock(mutex_);
    decoder_.gap();
    counters_.badFrames = decoder_.badFrames();
}

const std::vector<std::uint8_t>* BoardEndpoint::rememberedAnswer(const wire::Request& request) const
{
    for (const RememberedAnswer& remembered : lastAnswers_)
        if (remembered.control == request.control && remembered.crc == request.crc)
            return &remembered.answer;
    return nullptr;
}

std::vector<std::uint8_t> BoardEndpoint::answer(const wire::Request& request)
{
    // A host that missed an answer sends the same frame again (same control byte, same
    // CRC). Executing it twice would, say, program a page twice or count a failed
    // attempt twice, so the board repeats its answer instead.
    if (const auto* remembered = rememberedAnswer(request)) {
        ++counters_.repeats;
        if (requestLog_)
            requestLog_->write(request, true, *remembered);
        return *remembered;
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
    if (request.kind == wire::FrameKind::Ping) {
        lastAnswers_.clear();
    } else {
        lastAnswers_.push_back({request.control, request.crc, out});
        if (lastAnswers_.size() > answersRemembered_)
            lastAnswers_.pop_front();
    }
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
