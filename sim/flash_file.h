#pragma once

// The emulator's flash as a file: 1 MiB, file offset = flash address.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace fieldkit::sim {

// The whole content of a flash file. Throws std::runtime_error naming the file when it
// cannot be read or is not exactly 1 MiB long.
std::vector<std::uint8_t> readFlashFile(const std::string& path);

// Writes the flash beside `path` and renames it into place, so a reader never sees half a
// dump. Returns false and sets `error` to the system's words when it cannot.
bool writeFlashFile(const std::string& path, std::span<const std::uint8_t> flash, std::string* error);

} // namespace fieldkit::sim
