#pragma once

#include "wire/protocol.h"

#include <cstdint>
#include <fstream>
#include <span>
#include <string>

namespace fieldkit::sim {

// What the board made of each request that reached it whole, one line per request, written
// as it happens so that a run stopped or killed half-way still leaves every line before:
//
//   KIND ADDRESS COUNT DATA HANDLING VERDICT ANSWER
//
// KIND is ping, read or write; ADDRESS the request's 16-bit address in hex (0x1118); COUNT
// its byte count in decimal; DATA the payload of a write or ping in hex, "-" for a read;
// HANDLING "executed", or "repeat" for a resend answered again without executing it;
// VERDICT ack, nak or none (no answer at all); ANSWER the data of an acknowledged read or
// ping in hex, else "-".
class RequestLog {
public:
    // Throws std::runtime_error when the file cannot be created.
    explicit RequestLog(const std::string& path);

    void write(const wire::Request& request, bool repeat, std::span<const std::uint8_t> answer);

private:
    std::ofstream out_;
};

} // namespace fieldkit::sim
