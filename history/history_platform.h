#pragma once

// The history's calls into the operating system, one implementation per platform.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace fieldkit::history::platform {

// The history file in the user's data folder; empty when the system names no such folder.
std::filesystem::path defaultHistoryFile();

// Appends `line` (ending in a newline) with one write, holding an exclusive lock on the file
// while it looks at its last byte and writes, and flushes it to the disk before returning.
// When the file does not end in a newline (a writer died mid-line), a newline goes first so
// that only the torn line is lost. Creates the file; returns the reason when it fails.
std::optional<std::string> appendLine(const std::filesystem::path& file, const std::string& line);

// Reads the file from its start to its end while writers may append to it, handing each
// piece read to `take`; the reason, in words of our own with the system's, when it cannot.
// Only a regular file of at most kLargestHistory bytes is read, so a device or a pipe named
// as the history never hangs the reader.
std::optional<std::string> readInPieces(const std::filesystem::path& file,
                                        const std::function<void(std::string_view)>& take);

inline constexpr std::uintmax_t kLargestHistory = 256u << 20;

std::string hostName();
std::string userName();

} // namespace fieldkit::history::platform
