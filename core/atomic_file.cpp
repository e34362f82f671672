// The platform calls behind replaceFile: writing to the disk and renaming over a file are
// done differently on Windows and on POSIX systems.

#include "core/atomic_file.h"

#include "core/path_text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <system_error>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace fieldkit {
namespace {

namespace fs = std::filesystem;

bool fail(std::string* error, const std::string& what, const std::string& why)
{
    if (error)
        *error = what + ": " + why;
    return false;
}

bool flushToDisk(std::FILE* file)
{
#ifdef _WIN32
    return ::_commit(::_fileno(file)) == 0;
#else
    return ::fsync(::fileno(file)) == 0;
#endif
}

// Renames `from` over `to`, replacing it; the system's words on failure.
std::string renameOver(const fs::path& from, const fs::path& to)
{
#ifdef _WIN32
    // Write-through: the rename is on the disk when the call returns, as the data already is.
    if (::MoveFileExW(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return {};
    return std::system_category().message(static_cast<int>(::GetLastError()));
#else
    std::error_code error;
    fs::rename(from, to, error);
    return error ? error.message() : std::string();
#endif
}

} // namespace

bool replaceFile(const fs::path& file, std::span<const std::uint8_t> bytes, Durability durability, std::string* error)
{
    fs::path temporary = file;
    temporary += ".new";
    std::error_code ignored;
#ifdef _WIN32
    std::FILE* out = ::_wfopen(temporary.c_str(), L"wb");
#else
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
#endif
    if (!out)
        return fail(error, "cannot create " + textOf(temporary), std::strerror(errno));
    bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size() && std::fflush(out) == 0 &&
                   (durability == Durability::Cached || flushToDisk(out));
    int cause = errno;
    if (std::fclose(out) != 0 && written) {
        written = false;
        cause = errno;
    }
    if (!written) {
        fs::remove(temporary, ignored);
        return fail(error, "cannot write " + textOf(temporary), std::strerror(cause != 0 ? cause : EIO));
    }
    if (const auto old = fs::status(file, ignored); fs::exists(old))
        fs::permissions(temporary, old.permissions(), ignored);
    if (const std::string why = renameOver(temporary, file); !why.empty()) {
        fs::remove(temporary, ignored);
        return fail(error, "cannot replace " + textOf(file), why);
    }
    return true;
}

} // namespace fieldkit
