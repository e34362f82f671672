#include "wire/crc16.h"
#include "wire/protocol.h"

#include <gtest/gtest.h>

#include <string_view>

namespace fieldkit::wire {
namespace {

std::vector<std::uint8_t> bytesOf(std::string_view text) { return {text.begin(), text.end()}; }

std::optional<Request> feedAll(RequestDecoder& decoder, std::span<const std::uint8_t> bytes)
{
    std::optional<Request> last;
    for (std::uint8_t byte : bytes)
        if (auto request = decoder.feed(byte))
            last = std::move(request);
    return last;
}

TEST(Crc16, MatchesTheCcittFalseCheckValue)
{
    EXPECT_EQ(crc16(bytesOf("123456789")), 0x29B1);
    EXPECT_EQ(crc16({}), 0xFFFF);
}

TEST(RequestFrame, WriteOfOneBytePageSelectHasItsDocumentedLayout)
{
    const std::vector<std::uint8_t> data{0x00};
    const auto frame = encodeRequest(FrameKind::Write, 5, 0x011A, 1, data);
    ASSERT_EQ(frame.size(), 7u);
    EXPECT_EQ(frame[0], 0x85); // kind 2 (write) in bits 7-6, sequence 5
    EXPECT_EQ(frame[1], 0x1A); // address, least significant byte first
    EXPECT_EQ(frame[2], 0x01);
    EXPECT_EQ(frame[3], 0x00); // count - 1
    EXPECT_EQ(frame[4], 0x00); // the data byte
    EXPECT_EQ(requestCrc(frame), crc16(std::span(frame).first(5)));
}

TEST(RequestFrame, CountOutsideOneTo256IsRefused)
{
    EXPECT_THROW(encodeRequest(FrameKind::Read, 0, 0, 0, {}), std::invalid_argument);
    EXPECT_THROW(encodeRequest(FrameKind::Read, 0, 0, 257, {}), std::invalid_argument);
    const std::vector<std::uint8_t> two{1, 2};
    EXPECT_THROW(encodeRequest(FrameKind::Write, 0, 0, 3, two), std::invalid_argument);
}

TEST(RequestDecoder, RoundTripsReadsWritesAndPings)
{
    const std::vector<std::uint8_t> page(256, 0x5A);
    const auto ping = encodePingPayload({"QM7731", "ZZQ83LKW4PXT0B", 52, 52});
    struct Case {
        FrameKind kind;
        std::uint16_t address;
        std::size_t count;
        std::vector<std::uint8_t> payload;
    };
    for (const Case& c : {Case{FrameKind::Read, 0x0D00, 15, {}}, Case{FrameKind::Write, 0x0000, 256, page},
                          Case{FrameKind::Ping, 0, ping.size(), ping}}) {
        RequestDecoder decoder;
        const auto frame = encodeRequest(c.kind, 63, c.address, c.count, c.payload);
        const auto request = feedAll(decoder, frame);
        ASSERT_TRUE(request.has_value());
        EXPECT_EQ(request->kind, c.kind);
        EXPECT_EQ(request->sequence, 63);
        EXPECT_EQ(request->address, c.address);
        EXPECT_EQ(request->count, c.count);
        EXPECT_EQ(request->payload, c.payload);
        EXPECT_EQ(request->crc, requestCrc(frame));
    }
}

TEST(RequestDecoder, AnyFlippedBitIsRejectedAndTheNextFrameAfterAGapIsTaken)
{
    const std::vector<std::uint8_t> data{0x0A, 0x0B, 0x0C, 0x00, 0x12, 0x0A};
    const auto frame = encodeRequest(FrameKind::Write, 1, 0xFFFF, data.size(), data);
    for (std::size_t byte = 0; byte < frame.size(); ++byte) {
        for (int bit = 0; bit < 8; ++bit) {
            auto corrupted = frame;
            corrupted[byte] ^= static_cast<std::uint8_t>(1 << bit);
            RequestDecoder decoder;
            EXPECT_FALSE(feedAll(decoder, corrupted).has_value()) << "byte " << byte << " bit " << bit;
            decoder.gap();
            EXPECT_TRUE(feedAll(decoder, frame).has_value());
        }
    }
}

TEST(RequestDecoder, ATruncatedFrameIsDroppedAtTheGap)
{
    const auto frame = encodeRequest(FrameKind::Read, 2, 0x2600, 23, {});
    RequestDecoder decoder;
    EXPECT_FALSE(feedAll(decoder, std::span(frame).first(frame.size() - 1)).has_value());
    decoder.gap();
    EXPECT_EQ(decoder.badFrames(), 1u);
    EXPECT_TRUE(feedAll(decoder, frame).has_value());
}

TEST(Answers, AreBoundToTheRequestTheyAnswer)
{
    const std::vector<std::uint8_t> data{0x10};
    RequestDecoder decoder;
    const auto first = *feedAll(decoder, encodeRequest(FrameKind::Write, 1, 0x1201, 1, data));
    const auto second = *feedAll(decoder, encodeRequest(FrameKind::Write, 2, 0x1201, 1, data));
    EXPECT_NE(encodeWriteAnswer(kAck, first), encodeWriteAnswer(kAck, second));
    EXPECT_NE(encodeWriteAnswer(kAck, first), encodeWriteAnswer(kNak, first));

    const std::vector<std::uint8_t> esn{0x78, 0x56, 0x34, 0x12};
    const auto answer = encodeDataAnswer(kAck, first, esn);
    ASSERT_EQ(answer.size(), 1u + esn.size() + 2u);
    EXPECT_EQ(answer[0], kAck);
    const std::uint16_t carried = static_cast<std::uint16_t>(answer[5] | (answer[6] << 8));
    EXPECT_EQ(carried, dataAnswerCrc(first.control, first.crc, kAck, esn));
    EXPECT_NE(carried, dataAnswerCrc(second.control, second.crc, kAck, esn));
    EXPECT_EQ(encodeDataAnswer(kNak, first, esn).size(), 3u);
}

TEST(PingPayload, RoundTripsAndRejectsMalformedPayloads)
{
    const PingPayload ping{"QM7731", "ZZQ83LKW4PXT0B", 52, 52};
    const auto decoded = decodePingPayload(encodePingPayload(ping));
    ASSERT_TRUE(decoded.has_value());
    EXPECT_EQ(decoded->radioModel, "QM7731");
    EXPECT_EQ(decoded->modelNumber, "ZZQ83LKW4PXT0B");
    EXPECT_EQ(decoded->largestRead, 52);
    EXPECT_EQ(decoded->boardAddress, 52);
    EXPECT_FALSE(decodePingPayload(bytesOf("QM7731")).has_value());
    auto tooLong = encodePingPayload(ping);
    tooLong.push_back(0);
    EXPECT_FALSE(decodePingPayload(tooLong).has_value());
}

} // namespace
} // namespace fieldkit::wire
