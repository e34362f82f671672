#pragma once

// S-record lines for tests and benchmarks, with their count and checksum worked out.

#include <cstdint>
#include <string>
#include <vector>

namespace fieldkit::testing {

// "S<type>", the bytes as hex, then the right checksum for them; the count byte is taken
// as given, so a test can make it wrong.
inline std::string rawSrecord(int type, const std::vector<std::uint8_t>& bytesBeforeChecksum)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    unsigned sum = 0;
    std::string line = "S";
    line += std::to_string(type);
    const auto appendByte = [&line](std::uint8_t byte) {
        line += kDigits[byte >> 4];
        line += kDigits[byte & 0xF];
    };
    for (const auto byte : bytesBeforeChecksum) {
        sum += byte;
        appendByte(byte);
    }
    appendByte(static_cast<std::uint8_t>(0xFF - (sum & 0xFF)));
    return line;
}

// One S-record line, without its line end: type 0 to 9, the address in as many bytes as
// the type carries, then the data; count and checksum computed.
inline std::string srecord(int type, std::uint32_t address, const std::vector<std::uint8_t>& data = {})
{
    static constexpr int kAddressBytes[] = {2, 2, 3, 4, 2, 2, 3, 4, 3, 2};
    const int addressBytes = kAddressBytes[type];
    std::vector<std::uint8_t> body;
    body.push_back(static_cast<std::uint8_t>(addressBytes + data.size() + 1));
    for (int i = addressBytes - 1; i >= 0; --i)
        body.push_back(static_cast<std::uint8_t>(address >> (8 * i)));
    body.insert(body.end(), data.begin(), data.end());
    return rawSrecord(type, body);
}

} // namespace fieldkit::testing
