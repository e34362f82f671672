#pragma once

// A Lodestar board as the link sees it, at frame level, with a switch for every fault of the
// line: it decodes requests with the board's own decoder, executes them against 64 KB of
// memory, answers with the protocol's encoders, and recognises a repeat of a request it has
// executed (the last one, or with a receive buffer the last kMaxRequestsInFlight). MemoryLine
// connects it to the link as a byte channel in which time passes only while the host waits.

#include "link/channel_factory.h"
#include "tests/support/fake_clock.h"
#include "wire/byte_channel.h"
#include "wire/protocol.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace fieldkit::link {

enum class Fault {
    None,
    CorruptAnswer,     // one bit of the answer flipped
    TruncateAnswer,    // the answer's last byte lost
    LoseAnswer,        // executed, but nothing comes back
    DuplicateAnswer,   // the answer arrives twice
    EarlierAnswerFirst, // the previous request's answer arrives late, just ahead of this one's
    GarbageFirst,      // noise on the line ahead of the answer
    Refuse,            // the board refuses the request (NAK) without executing it
    CorruptRequest,    // one bit of the request flipped on its way to the board
};

inline const char* faultName(Fault fault)
{
    switch (fault) {
    case Fault::None: return "None";
    case Fault::CorruptAnswer: return "CorruptAnswer";
    case Fault::TruncateAnswer: return "TruncateAnswer";
    case Fault::LoseAnswer: return "LoseAnswer";
    case Fault::DuplicateAnswer: return "DuplicateAnswer";
    case Fault::EarlierAnswerFirst: return "EarlierAnswerFirst";
    case Fault::GarbageFirst: return "GarbageFirst";
    case Fault::Refuse: return "Refuse";
    case Fault::CorruptRequest: return "CorruptRequest";
    }
    return "?";
}

class FrameBoard {
public:
    struct Received {
        wire::Request request;
        bool repeat; // equal to a request executed before, so answered again, not executed
    };

    FrameBoard() { memory.fill(0xFF); }

    // The board's answer to one whole request, before any line fault.
    std::vector<std::uint8_t> answer(const wire::Request& request)
    {
        const auto remembered = std::find_if(executed_.begin(), executed_.end(), [&](const Executed& e) {
            return e.request.control == request.control && e.request.crc == request.crc;
        });
        const bool repeat = remembered != executed_.end();
        received.push_back({request, repeat});
        if (repeat)
            return remembered->answer;
        const bool refuse = nextFault_ == Fault::Refuse;
        const std::uint8_t verdict = refuse ? wire::kNak : wire::kAck;
        std::vector<std::uint8_t> answer;
        if (request.kind == wire::FrameKind::Write) {
            if (!refuse) {
                std::copy(request.payload.begin(), request.payload.end(), memory.begin() + request.address);
                executedAddresses.push_back(request.address);
            }
            answer = wire::encodeWriteAnswer(verdict, request);
        } else if (request.kind == wire::FrameKind::Read) {
            const auto from = memory.begin() + request.address;
            const std::vector<std::uint8_t> data(from, from + static_cast<std::ptrdiff_t>(request.count));
            answer = wire::encodeDataAnswer(verdict, request, data);
        } else {
            std::vector<std::uint8_t> data(pingAnswer.begin(), pingAnswer.end());
            if (receiveBuffer) {
                data[wire::kPingVersionOffset] = wire::kWindowProtocolVersion;
                data.push_back(static_cast<std::uint8_t>(*receiveBuffer & 0xFF));
                data.push_back(static_cast<std::uint8_t>(*receiveBuffer >> 8));
            }
            answer = wire::encodeDataAnswer(verdict, request, data);
        }
        lastAnswer_ = answer;
        executed_.push_back({request, answer});
        if (executed_.size() > (receiveBuffer ? wire::kMaxRequestsInFlight : 1))
            executed_.pop_front();
        return answer;
    }

    // Takes the bytes the host sends; returns what goes back on the line, faults applied.
    std::vector<std::uint8_t> receive(std::span<const std::uint8_t> bytes)
    {
        std::vector<std::uint8_t> line(bytes.begin(), bytes.end());
        sent.push_back(line);
        if (upcoming() == Fault::CorruptRequest) {
            takeFault();
            line[line.size() / 2] ^= 0x10;
        }
        std::vector<std::uint8_t> back;
        for (std::uint8_t byte : line) {
            if (auto request = decoder.feed(byte)) {
                takeFault();
                const auto previous = lastAnswer_;
                auto answered = answer(*request);
                applyFault(answered, previous);
                back.insert(back.end(), answered.begin(), answered.end());
            }
        }
        return back;
    }

    // Writes to `address` the board carried out (refusals and repeats are not carried out).
    std::size_t writesTo(std::uint16_t address) const
    {
        return static_cast<std::size_t>(std::count(executedAddresses.begin(), executedAddresses.end(), address));
    }

    std::array<std::uint8_t, 0x10000 + wire::kMaxCount> memory{}; // room for a full count from 0xFFFF
    std::array<std::uint8_t, wire::kPingAnswerSize> pingAnswer{'L', 'O', 'D', 'E', 'S', 'T', 'A', 'R',
                                                               wire::kProtocolVersion, 52, 0x00, 0x01};
    // Set: the ping answer says protocol version 2 and this many bytes of requests held.
    std::optional<std::uint16_t> receiveBuffer;
    wire::RequestDecoder decoder;
    std::vector<Received> received;
    std::vector<std::vector<std::uint8_t>> sent; // the bytes of each write the host made, as sent
    std::vector<std::uint16_t> executedAddresses;
    // One per request the board decodes, in order, None once used up; CorruptRequest instead
    // spoils the next bytes the host sends, so that the board decodes nothing of them.
    std::deque<Fault> faults;
    bool alwaysFaulty = false; // `persistentFault` on every request
    Fault persistentFault = Fault::None;

    // The line itself.
    bool dead = false;        // nothing reaches the board, nothing comes back
    bool noisy = false;       // the line never falls silent
    bool cablePulled = false; // sending fails
    wire::OpenResult openResult;
    int opens = 0;
    int openChannels = 0;
    std::deque<std::uint8_t> toHost;
    // When set, each answer keeps the host waiting this long after it has sent the request.
    testing::FakeClock* clock = nullptr;
    std::chrono::milliseconds turnaround{0};
    std::chrono::milliseconds waited{0}; // time the host spent waiting on the line
    std::chrono::milliseconds silence{0}; // since the host last sent

private:
    Fault upcoming() const
    {
        if (alwaysFaulty)
            return persistentFault;
        return faults.empty() ? Fault::None : faults.front();
    }

    void takeFault()
    {
        if (alwaysFaulty) {
            nextFault_ = persistentFault;
        } else if (!faults.empty()) {
            nextFault_ = faults.front();
            faults.pop_front();
        } else {
            nextFault_ = Fault::None;
        }
    }

    void applyFault(std::vector<std::uint8_t>& answer, const std::vector<std::uint8_t>& previous)
    {
        switch (nextFault_) {
        case Fault::CorruptAnswer:
            answer[answer.size() / 2] ^= 0x01;
            break;
        case Fault::TruncateAnswer:
            answer.pop_back();
            break;
        case Fault::LoseAnswer:
            answer.clear();
            break;
        case Fault::DuplicateAnswer:
            answer.insert(answer.end(), answer.begin(), answer.end());
            break;
        case Fault::EarlierAnswerFirst:
            answer.insert(answer.begin(), previous.begin(), previous.end());
            break;
        case Fault::GarbageFirst:
            answer.insert(answer.begin(), {0x06, 0x00, 0xFF});
            break;
        case Fault::None:
        case Fault::Refuse:
        case Fault::CorruptRequest:
            break;
        }
    }

    struct Executed {
        wire::Request request;
        std::vector<std::uint8_t> answer;
    };

    Fault nextFault_ = Fault::None;
    std::deque<Executed> executed_; // oldest first
    std::vector<std::uint8_t> lastAnswer_;
};

// The line between the host and a FrameBoard. Bytes the board answers are there at once;
// a read that finds fewer than it asks for has waited its whole timeout.
class MemoryLine final : public wire::ByteChannel {
public:
    explicit MemoryLine(FrameBoard& board) : board_(board) {}
    ~MemoryLine() override { close(); }

    wire::OpenResult open() override
    {
        ++board_.opens;
        if (board_.openResult.ok()) {
            open_ = true;
            ++board_.openChannels;
        }
        return board_.openResult;
    }
    void close() override
    {
        if (open_)
            --board_.openChannels;
        open_ = false;
    }
    bool isOpen() const override { return open_; }

    bool write(std::span<const std::uint8_t> bytes) override
    {
        if (board_.cablePulled)
            return false;
        board_.silence = std::chrono::milliseconds::zero();
        if (board_.dead)
            return true;
        const auto back = board_.receive(bytes);
        if (board_.clock != nullptr && !back.empty())
            board_.clock->advance(board_.turnaround);
        board_.toHost.insert(board_.toHost.end(), back.begin(), back.end());
        return true;
    }

    std::size_t read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout) override
    {
        if (board_.noisy) {
            const std::size_t n = std::min(into.size(), std::max<std::size_t>(1, timeout.count() * kBytesPerMs));
            std::fill_n(into.begin(), n, std::uint8_t{0x55});
            board_.waited += std::min(timeout, std::chrono::milliseconds(n / kBytesPerMs));
            return n;
        }
        const std::size_t n = std::min(into.size(), board_.toHost.size());
        std::copy_n(board_.toHost.begin(), n, into.begin());
        board_.toHost.erase(board_.toHost.begin(), board_.toHost.begin() + static_cast<std::ptrdiff_t>(n));
        if (n < into.size()) {
            board_.waited += timeout;
            board_.silence += timeout;
            if (board_.silence >= wire::kBoardFrameGap)
                board_.decoder.gap();
        }
        return n;
    }

    void discardInput() override { board_.toHost.clear(); }

private:
    static constexpr std::size_t kBytesPerMs = 11; // 115200 baud

    FrameBoard& board_;
    bool open_ = false;
};

inline ChannelFactory memoryLines(FrameBoard& board, std::vector<int>* portsAsked = nullptr)
{
    return [&board, portsAsked](int port) -> std::unique_ptr<wire::ByteChannel> {
        if (portsAsked)
            portsAsked->push_back(port);
        return std::make_unique<MemoryLine>(board);
    };
}

} // namespace fieldkit::link
