#pragma once

// INI ("private profile") files, read and written by the rules technicians' settings files
// have always followed, so a hand-edited AppConfig.ini means the same here as it did before.
// A file is UTF-8, with or without a byte order mark, or UTF-16 in either byte order with
// its mark, as Windows editors save it ("UTF-8 with BOM", "Unicode"); values come out as
// UTF-8, and a write keeps the file's encoding and mark.

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace fieldkit::settings {

// The value of `key` in `section`, or `defaultValue` when the file, the section or the key
// is missing. Section and key names match without regard to case; white space around the
// value and one pair of enclosing quotes (" or ') are dropped; the first matching section
// and key win; lines starting with ';' or '#' are comments. The result is cut to
// bufferSize - 1 characters, as a fixed buffer of that size would hold it. Reading never
// creates the file.
std::string readProfileString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                              std::string_view defaultValue, std::size_t bufferSize);

// The same rules over a file's bytes already in memory.
std::string readProfileStringFrom(std::string_view content, std::string_view section, std::string_view key,
                                  std::string_view defaultValue, std::size_t bufferSize);

// Sets `key` in `section` to `value`, keeping every other line, comment and section as it
// was, and the file's line ends. The new file is written beside the old one and renamed
// over it, so a crash or a full disk leaves either the old file or the new one, never a
// truncated one. Returns false and sets `error` to the system's words when it cannot.
bool writeProfileString(const std::filesystem::path& file, std::string_view section, std::string_view key,
                        std::string_view value, std::string* error = nullptr);

// The bytes of the file with `key` in `section` set to `value`, in the file's encoding.
std::string withProfileString(std::string_view content, std::string_view section, std::string_view key,
                              std::string_view value);

// Why a file's bytes would not be read as its writer meant, or nothing: NUL bytes (UTF-16
// saved without its mark, or not text at all), or the first line that is neither a section,
// a key nor a comment, or a key before any section. Said as the rest of a sentence that
// begins with the file's name.
std::optional<std::string> profileProblem(std::string_view content);
std::optional<std::string> readProfileProblem(const std::filesystem::path& file);

} // namespace fieldkit::settings
