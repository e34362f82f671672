#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace fieldkit::history {

struct FileDigest {
    std::uintmax_t size = 0;
    std::string sha256; // 64 lowercase hex digits
};

// The size and SHA-256 of a file's bytes as they are on disk now; nothing when the file
// cannot be read.
std::optional<FileDigest> digestOfFile(const std::filesystem::path& file);

} // namespace fieldkit::history
