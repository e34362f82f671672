// The write window of a board that holds several requests: writes stream onto the line and
// their answers are taken in order. docs/link-protocol.md gives the reasoning.

#include "link/serial_board_link.h"

#include <deque>
#include <vector>

namespace fieldkit::link {

class SerialBoardLink::StreamingWindow final : public WriteWindow {
public:
    StreamingWindow(SerialBoardLink& link, std::size_t bytes)
        : link_(link), bytes_(bytes), openedAtMs_(link.clock_ != nullptr ? link.clock_->tickMs() : 0)
    {
    }

    // The answers still due are taken, so that the next request meets a settled line.
    ~StreamingWindow() override
    {
        while (!requests_.empty())
            nextAnswer();
    }
    StreamingWindow(const StreamingWindow&) = delete;
    StreamingWindow& operator=(const StreamingWindow&) = delete;

    bool hasRoomFor(std::uint32_t count) const override
    {
        return requests_.empty() || (requests_.size() < wire::kMaxRequestsInFlight &&
                                     bytesOnLine_ + frameSize(count) <= bytes_);
    }

    int send(const std::uint8_t* source, std::uint32_t address, std::uint32_t count) override;
    int nextAnswer() override;
    std::size_t answersDue() const override { return requests_.size(); }

private:
    struct Request {
        std::vector<std::uint8_t> frame;
        std::uint8_t control;
        std::uint16_t crc;
        std::size_t count;
        std::uint32_t garbled = 0;     // answers of its own lost or spoilt, each costing one try
        std::uint32_t handedOverAtMs = 0;
        std::chrono::microseconds lineBusyFor{0}; // from the hand-over until its last byte is out
        bool givenUp = false;          // sent as often as a request that was given up before it
    };

    static std::size_t frameSize(std::uint32_t count) { return wire::kRequestHeaderSize + count + wire::kCrcSize; }
    bool transmit(wire::ByteChannel& channel, Request& request);
    int giveUpAll(LinkError error);

    SerialBoardLink& link_;
    std::size_t bytes_;
    std::deque<Request> requests_;
    std::size_t bytesOnLine_ = 0; // frames whose answers are due
    // When the last frame handed over will have left the port, counted from the window's
    // opening, for timing the answers the host waits for on an idle line.
    std::uint32_t openedAtMs_;
    std::chrono::microseconds lineFreeAt_{0};
};

std::unique_ptr<WriteWindow> SerialBoardLink::openWriteWindow(int port)
{
    if (initialised_ && isOpenOn(port) && boardWindow_ && boardWindow_->port == port)
        return std::make_unique<StreamingWindow>(*this, boardWindow_->bytes);
    return BoardLink::openWriteWindow(port);
}

int SerialBoardLink::StreamingWindow::send(const std::uint8_t* source, std::uint32_t address, std::uint32_t count)
{
    if (source == nullptr || !isValidRequestCount(count) || !isValidRequestAddress(address))
        return linkResult(LinkError::BadArgument);
    if (!link_.channel_)
        return linkResult(LinkError::PortNotOpen);
    // With nothing due, whatever is waiting answers nothing about to be asked.
    if (requests_.empty())
        link_.channel_->discardInput();
    Request request;
    request.frame = wire::encodeRequest(wire::FrameKind::Write, link_.nextSequence_, static_cast<std::uint16_t>(address),
                                        count, std::span(source, count));
    link_.nextSequence_ = static_cast<std::uint8_t>((link_.nextSequence_ + 1) & wire::kSequenceMask);
    ++link_.statistics_.requests;
    request.control = request.frame.front();
    request.crc = wire::requestCrc(request.frame);
    request.count = count;
    if (!transmit(*link_.channel_, request))
        return linkResult(LinkError::LineLost);
    bytesOnLine_ += request.frame.size();
    requests_.push_back(std::move(request));
    return LINK_OK;
}

// The answer to the oldest request on the line. A lost or spoilt answer leaves the host not
// knowing which of the requests behind it the board executed, so after a quiet line every
// request on the line is sent again, as the very same frames and in the same order: the board
// answers those it executed from its memory of answers and executes the others.
int SerialBoardLink::StreamingWindow::nextAnswer()
{
    Request& front = requests_.front();
    if (front.givenUp) {
        bytesOnLine_ -= front.frame.size();
        requests_.pop_front();
        return linkResult(LinkError::NoAnswer);
    }
    wire::ByteChannel* channel = link_.channel_.get();
    for (;;) {
        if (channel == nullptr)
            return giveUpAll(LinkError::LineLost);
        // The last request on the line is answered only after the line has fallen idle: its
        // answer's delay costs time, and is timed for the adapter hint.
        if (link_.clock_ != nullptr && requests_.size() == 1)
            link_.awaitedAnswer_ = AwaitedAnswer{front.handedOverAtMs, front.lineBusyFor};
        // The answer may wait behind the requests still on their way.
        const auto queued = std::chrono::ceil<std::chrono::milliseconds>(link_.lineTimeOf(bytesOnLine_));
        std::array<std::uint8_t, wire::kWriteAnswerSize> answer{};
        const bool whole =
            link_.receive(*channel, answer, link_.timer(TIMER_ANSWER_TIMEOUT_MS) + queued) == answer.size();
        link_.awaitedAnswer_.reset();
        Outcome outcome = whole ? link_.judgeWriteAnswer(answer, front.control, front.crc) : Outcome::Garbled;
        // Behind the last answer due nothing may follow, as behind a lone request's.
        if (outcome == Outcome::Accepted && requests_.size() == 1 && link_.moreBytesWaiting(*channel))
            outcome = Outcome::Garbled;
        if (outcome != Outcome::Garbled) {
            if (outcome == Outcome::Accepted)
                link_.statistics_.payloadBytes += front.count;
            bytesOnLine_ -= front.frame.size();
            requests_.pop_front();
            return outcome == Outcome::Accepted ? LINK_OK : linkResult(LinkError::Refused);
        }
        ++front.garbled;
        if (!link_.waitForQuietLine(*channel) || front.garbled >= link_.timers_.words[TIMER_TRIES])
            return giveUpAll(LinkError::NoAnswer);
        for (Request& request : requests_) {
            ++link_.statistics_.retries;
            if (!transmit(*channel, request))
                return giveUpAll(LinkError::LineLost);
        }
    }
}

// The oldest request fails with `error`. Every request behind it was sent as often and went
// unanswered with it, so each fails in turn without more tries.
int SerialBoardLink::StreamingWindow::giveUpAll(LinkError error)
{
    for (Request& request : requests_)
        request.givenUp = true;
    bytesOnLine_ -= requests_.front().frame.size();
    requests_.pop_front();
    return linkResult(error);
}

bool SerialBoardLink::StreamingWindow::transmit(wire::ByteChannel& channel, Request& request)
{
    if (link_.clock_ != nullptr) {
        // The frame's last byte leaves once the frames ahead of it and itself have crossed.
        const std::uint32_t nowMs = link_.clock_->tickMs();
        const std::chrono::microseconds now = std::chrono::milliseconds(nowMs - openedAtMs_);
        lineFreeAt_ = std::max(lineFreeAt_, now) + link_.lineTimeOf(request.frame.size());
        request.handedOverAtMs = nowMs;
        request.lineBusyFor = lineFreeAt_ - now;
    }
    if (!channel.write(request.frame))
        return false;
    link_.statistics_.wireBytesSent += request.frame.size();
    return true;
}

} // namespace fieldkit::link
