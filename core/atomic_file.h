#pragma once

// Replacing a file so that whoever reads it next, or finds it after a crash or a full disk,
// sees the old content or the new one whole, never a mix or a truncated file.

#include <cstdint>
#include <filesystem>
#include <span>
#include <string>

namespace fieldkit {

enum class Durability {
    Cached,   // whole for the next reader; a power cut may lose it (an emulator's flash dump)
    OnDisk,   // on the disk before it replaces the old file (settings, a flash image to keep)
};

// Writes `bytes` in binary to a new file beside `file` ("<file>.new") and renames it over
// `file` in one step. A file that is replaced keeps its permissions. Returns false and sets
// `error` (when given) to what failed in the system's words; the old file is then untouched
// and the new one removed.
bool replaceFile(const std::filesystem::path& file, std::span<const std::uint8_t> bytes, Durability durability,
                 std::string* error = nullptr);

} // namespace fieldkit
