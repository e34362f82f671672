#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>

namespace fieldkit::link {

class BoardLink;

// Writes put on the line one after another without waiting for each one's answer, as far as
// the board can hold them; the answers come back in the order the writes went out. Each
// answer is judged against its own write exactly as WriteDataOnly judges one. Used from one
// thread, and no other call of the link may come between opening a window and taking the
// last answer of its writes.
class WriteWindow {
public:
    virtual ~WriteWindow() = default;

    // Whether a write of `count` bytes may go on the line now, beside the answers still due.
    // Always true when nothing is due.
    virtual bool hasRoomFor(std::uint32_t count) const = 0;
    // Puts one write on the line: 0 once it is sent, else the link's failure, and then no
    // answer is due for it.
    virtual int send(const std::uint8_t* source, std::uint32_t address, std::uint32_t count) = 0;
    // The result of the oldest write whose answer is due, as WriteDataOnly gives it: 0 only
    // when the board confirmed it took the bytes. Only while answersDue() is not 0.
    virtual int nextAnswer() = 0;
    virtual std::size_t answersDue() const = 0;
};

// The window of a board that takes one request at a time: each write is sent and answered
// before send() returns, through the link's own WriteDataOnly.
class OneAtATimeWindow final : public WriteWindow {
public:
    OneAtATimeWindow(BoardLink& link, int port) : link_(link), port_(port) {}

    bool hasRoomFor(std::uint32_t) const override { return results_.empty(); }
    int send(const std::uint8_t* source, std::uint32_t address, std::uint32_t count) override;
    int nextAnswer() override;
    std::size_t answersDue() const override { return results_.size(); }

private:
    BoardLink& link_;
    int port_;
    std::deque<int> results_;
};

} // namespace fieldkit::link
