#include "sim/request_log.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace fieldkit::sim {
namespace {

const char* kindName(wire::FrameKind kind)
{
    switch (kind) {
    case wire::FrameKind::Read: return "read";
    case wire::FrameKind::Write: return "write";
    case wire::FrameKind::Ping: return "ping";
    }
    return "?";
}

void putHex(std::ofstream& out, std::span<const std::uint8_t> bytes)
{
    if (bytes.empty()) {
        out << '-';
        return;
    }
    static constexpr char digits[] = "0123456789ABCDEF";
    for (std::uint8_t byte : bytes)
        out << digits[byte >> 4] << digits[byte & 0x0F];
}

} // namespace

RequestLog::RequestLog(const std::string& path) : out_(path, std::ios::binary | std::ios::trunc)
{
    if (!out_)
        throw std::runtime_error("cannot create the request log " + path);
}

void RequestLog::write(const wire::Request& request, bool repeat, std::span<const std::uint8_t> answer)
{
    char address[8];
    std::snprintf(address, sizeof address, "0x%04X", request.address);
    out_ << kindName(request.kind) << ' ' << address << ' ' << request.count << ' ';
    putHex(out_, request.payload);
    out_ << (repeat ? " repeat " : " executed ");
    // A write is answered with a token only its request can produce, so its verdict is read
    // by rebuilding the token; a read or ping answer starts with its verdict byte.
    const bool isWrite = request.kind == wire::FrameKind::Write;
    const bool acked = isWrite ? std::ranges::equal(answer, wire::encodeWriteAnswer(wire::kAck, request))
                               : !answer.empty() && answer.front() == wire::kAck;
    out_ << (answer.empty() ? "none " : acked ? "ack " : "nak ");
    if (acked && !isWrite)
        putHex(out_, answer.subspan(1, answer.size() - 1 - wire::kCrcSize));
    else
        out_ << '-';
    out_ << '\n' << std::flush;
}

} // namespace fieldkit::sim
