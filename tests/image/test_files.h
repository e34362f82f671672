#pragma once

// Scratch directories and files for tests that read firmware files from disk, and a writer
// of single S-records with their count and checksum worked out.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

namespace fieldkit::testing {

// A fresh directory under the system's temporary directory, removed with everything in it.
class TempDir {
public:
    TempDir()
    {
        std::random_device seed;
        const auto base = std::filesystem::temp_directory_path();
        for (;;) {
            path_ = base / ("fieldkit-test-" + std::to_string(seed()));
            if (std::filesystem::create_directory(path_))
                break;
        }
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline void writeFile(const std::filesystem::path& file, const std::string& content)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out << content;
}

inline std::vector<std::uint8_t> readFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
