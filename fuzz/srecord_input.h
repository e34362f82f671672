#pragma once

// The S-record loader against arbitrary file contents, through both address windows.
//
// The input is the whole file. It is loaded twice per window, into a destination of all
// 0x00 and one of all 0xFF: a byte the file placed reads the same in both, a byte it did not
// place keeps each destination's own value. What the loader promises, and the harness
// checks:
//   - the result and the counts do not depend on what the destination held;
//   - no more bytes change than the loader says it placed, and none unless it placed some;
//   - a file that was not read to its end also sets the errors flag, and the errors flag
//     always comes with a reason;
//   - a file read without errors places exactly the bytes of its S1, S2 and S3 records, as
//     a plain reading of those records (below) places them.

#include "fuzz/finding.h"
#include "image/srecord_loader.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <unistd.h>

namespace fieldkit::fuzz {

// A file of this process's own for the loader to read: in memory when /dev/shm exists.
inline const std::filesystem::path& scratchFile()
{
    static const std::filesystem::path file = [] {
        const std::filesystem::path shm = "/dev/shm";
        const auto directory = std::filesystem::is_directory(shm) ? shm : std::filesystem::temp_directory_path();
        return directory / ("fieldkit-srecord-" + std::to_string(::getpid()) + ".s19");
    }();
    return file;
}

inline void writeScratchFile(std::span<const std::uint8_t> contents)
{
    std::ofstream out(scratchFile(), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(contents.data()), static_cast<std::streamsize>(contents.size()));
    require(static_cast<bool>(out), "the scratch file can be written");
}

inline int hexDigit(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// A plain reading of a file already known to be well formed: every S1, S2 and S3 record's
// data at its address, later records over earlier ones.
inline void placeRecordsPlainly(std::string_view file, std::span<std::uint8_t> destination,
                                image::AddressWindow window)
{
    while (!file.empty()) {
        const auto end = file.find('\n');
        auto line = file.substr(0, end);
        file = end == std::string_view::npos ? std::string_view{} : file.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.size() < 2 || line[1] < '1' || line[1] > '3')
            continue;
        const auto byteAt = [&](std::size_t i) {
            return static_cast<std::uint8_t>(hexDigit(line[2 + 2 * i]) << 4 | hexDigit(line[3 + 2 * i]));
        };
        const std::size_t addressBytes = static_cast<std::size_t>(line[1] - '0') + 1;
        const std::size_t count = byteAt(0);
        std::uint32_t address = 0;
        for (std::size_t i = 1; i <= addressBytes; ++i)
            address = address << 8 | byteAt(i);
        for (std::size_t i = addressBytes + 1; i < count; ++i)
            destination[address - window.firstAddress + i - addressBytes - 1] = byteAt(i);
    }
}

// Bytes that read the same after loading into all 0x00 and into all 0xFF. Blocks still
// wholly in their fill are passed over with memcmp, which keeps the fuzzer fast.
inline std::size_t countPlaced(std::span<const std::uint8_t> zeros, std::span<const std::uint8_t> ones)
{
    constexpr std::size_t kBlock = 4096;
    static const std::vector<std::uint8_t> allZero(kBlock, 0x00);
    static const std::vector<std::uint8_t> allOnes(kBlock, 0xFF);
    std::size_t placed = 0;
    for (std::size_t at = 0; at < zeros.size(); at += kBlock) {
        const std::size_t length = std::min(kBlock, zeros.size() - at);
        if (std::memcmp(zeros.data() + at, allZero.data(), length) == 0 &&
            std::memcmp(ones.data() + at, allOnes.data(), length) == 0)
            continue;
        for (std::size_t i = at; i < at + length; ++i)
            placed += zeros[i] == ones[i] ? 1 : 0;
    }
    return placed;
}

inline void checkWindow(std::string_view contents, image::AddressWindow window)
{
    static std::vector<std::uint8_t> zeros;
    static std::vector<std::uint8_t> ones;
    zeros.assign(window.size, 0x00);
    ones.assign(window.size, 0xFF);
    const auto intoZeros = image::readSrecordFile(scratchFile(), zeros, window);
    const auto intoOnes = image::readSrecordFile(scratchFile(), ones, window);

    require(intoZeros.result == intoOnes.result && intoZeros.errors == intoOnes.errors &&
                intoZeros.dataRecords == intoOnes.dataRecords && intoZeros.bytesPlaced == intoOnes.bytesPlaced &&
                intoZeros.errorCount == intoOnes.errorCount && intoZeros.firstErrorLine == intoOnes.firstErrorLine,
            "the outcome does not depend on what the destination held");
    const std::size_t placed = countPlaced(zeros, ones);
    require(placed <= intoZeros.bytesPlaced, "no more bytes change than the loader placed");
    require(intoZeros.result == image::kSrecordProcessed || intoZeros.errors,
            "a file not read to its end sets the errors flag");
    require(!intoZeros.errors || intoZeros.errorCount > 0, "the errors flag comes with an error count");
    require(!intoZeros.errors || !intoZeros.firstError.empty(), "the errors flag comes with a reason");

    if (intoZeros.result == image::kSrecordProcessed && !intoZeros.errors) {
        static std::vector<std::uint8_t> plain;
        plain.assign(window.size, 0x00);
        placeRecordsPlainly(contents, plain, window);
        require(plain == zeros, "a file without errors places exactly its records' bytes");
    }
}

inline void replaySrecordFile(std::span<const std::uint8_t> contents)
{
    writeScratchFile(contents);
    const std::string_view text(reinterpret_cast<const char*>(contents.data()), contents.size());
    checkWindow(text, image::kBootFileWindow);
    checkWindow(text, image::kApplicationFileWindow);
}

} // namespace fieldkit::fuzz
