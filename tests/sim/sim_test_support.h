#pragma once

// A minimal host for talking to the emulated board in tests: it frames requests as the
// link does and reads the board's verdicts back, checking every answer's binding to its
// request on the way.

#include "sim/board.h"
#include "sim/board_map.h"
#include "tests/support/temp_folder.h"
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>


namespace fieldkit::sim {

// A request as the board's decoder hands it over, CRC included.
inline wire::Request makeRequest(wire::FrameKind kind, std::uint8_t sequence, std::uint16_t address, std::size_t count,
                                 const std::vector<std::uint8_t>& payload = {})
{
    wire::RequestDecoder decoder;
    std::optional<wire::Request> request;
    for (std::uint8_t byte : wire::encodeRequest(kind, sequence, address, count, payload))
        if (auto decoded = decoder.feed(byte))
            request = std::move(decoded);
    EXPECT_TRUE(request.has_value());
    return request.value_or(wire::Request{});
}

inline std::vector<std::uint8_t> frameOf(wire::FrameKind kind, std::uint8_t sequence, std::uint16_t address,
                                         std::size_t count, const std::vector<std::uint8_t>& payload = {})
{
    return wire::encodeRequest(kind, sequence, address, count, payload);
}

inline std::vector<std::uint8_t> goodPingPayload()
{
    return wire::encodePingPayload({"QM7731", "ZZQ83LKW4PXT0B", 52, 52});
}

// The commit record of the page at `address`.
inline std::vector<std::uint8_t> commitRecord(std::uint32_t address)
{
    return {0x0A,
            0x0B,
            0x0C,
            static_cast<std::uint8_t>(address),
            static_cast<std::uint8_t>(address >> 8),
            static_cast<std::uint8_t>(address >> 16)};
}

// The verdict of a write answer: true for ACK, false for NAK; anything else fails the test.
inline bool writeAccepted(const std::vector<std::uint8_t>& answer, const wire::Request& request)
{
    if (answer == wire::encodeWriteAnswer(wire::kAck, request))
        return true;
    EXPECT_EQ(answer, wire::encodeWriteAnswer(wire::kNak, request)) << "not a write answer to this request";
    return false;
}

// The data of a read or ping answer, or nothing for a NAK; a malformed answer fails the test.
inline std::optional<std::vector<std::uint8_t>> answerData(const std::vector<std::uint8_t>& answer,
                                                           const wire::Request& request)
{
    if (answer.size() < 1 + wire::kCrcSize) {
        ADD_FAILURE() << "answer of " << answer.size() << " bytes";
        return std::nullopt;
    }
    const std::vector<std::uint8_t> data(answer.begin() + 1, answer.end() - wire::kCrcSize);
    const auto crc = static_cast<std::uint16_t>(answer[answer.size() - 2] | (answer.back() << 8));
    EXPECT_EQ(crc, wire::dataAnswerCrc(request.control, request.crc, answer.front(), data));
    if (answer.front() != wire::kAck) {
        EXPECT_EQ(answer.front(), wire::kNak);
        EXPECT_TRUE(data.empty());
        return std::nullopt;
    }
    return data;
}

// Drives a Board directly, numbering requests as the host does.
class BoardDriver {
public:
    explicit BoardDriver(Board& board) : board_(board) {}

    bool write(std::uint16_t word, const std::vector<std::uint8_t>& data)
    {
        const auto request = makeRequest(wire::FrameKind::Write, next(), word, data.size(), data);
        return writeAccepted(board_.handle(request), request);
    }
    bool command(std::uint16_t word) { return write(word, {0x00}); }

    std::optional<std::vector<std::uint8_t>> read(std::uint16_t address, std::size_t count)
    {
        const auto request = makeRequest(wire::FrameKind::Read, next(), address, count);
        return answerData(board_.handle(request), request);
    }

    // The three writes of one page: block select, page data, commit.
    bool writePage(std::uint32_t address, const std::vector<std::uint8_t>& page)
    {
        const auto block = static_cast<std::uint8_t>(0x1A - (address - 0xA0000) / kBlockSize);
        const bool selected = command(static_cast<std::uint16_t>(CMD_SELECT_BLOCK + block));
        const bool loaded = write(ADDR_PAGE_DATA, page);
        return write(ADDR_PAGE_COMMIT, commitRecord(address)) && selected && loaded;
    }

    bool verify(std::uint16_t word, std::uint16_t checksum)
    {
        return write(word, {static_cast<std::uint8_t>(checksum >> 8), static_cast<std::uint8_t>(checksum & 0xFF)});
    }

private:
    std::uint8_t next() { return sequence_++ & wire::kSequenceMask; }

    Board& board_;
    std::uint8_t sequence_ = 0;
};

inline std::vector<std::uint8_t> filledPage(std::uint8_t value)
{
    return std::vector<std::uint8_t>(kPageSize, value);
}

inline std::vector<std::uint8_t> countingPage()
{
    std::vector<std::uint8_t> page(kPageSize);
    for (std::size_t i = 0; i < page.size(); ++i)
        page[i] = static_cast<std::uint8_t>(i);
    return page;
}

inline bool allBytesAre(std::span<const std::uint8_t> bytes, std::uint8_t value)
{
    for (std::uint8_t byte : bytes)
        if (byte != value)
            return false;
    return true;
}

using testing::TempDir;

} // namespace fieldkit::sim
