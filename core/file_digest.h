#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace fieldkit {

struct FileDigest {
    std::uintmax_t size = 0;
    std::string sha256; // 64 lowercase hex digits
};

// The size and SHA-256 of a file's bytes as they are on disk now; nothing when the file
// cannot be read.
std::optional<FileDigest> digestOfFile(const std::filesystem::path& file);

// The SHA-256 of bytes in memory.
std::array<std::uint8_t, 32> sha256Of(std::string_view bytes);

// Bytes no other run will draw: for the ids of records, not for keys.
void fillUnique(std::span<std::uint8_t> bytes);

} // namespace fieldkit
