// The history's system calls on Windows.

#include "history/history_platform.h"

#include <windows.h>

#include <cstdlib>

namespace fieldkit::history::platform {
namespace {

std::string systemError(const std::filesystem::path& file)
{
    const DWORD code = GetLastError();
    char* text = nullptr;
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                            FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string reason = length > 0 ? std::string(text, length) : "system error " + std::to_string(code);
    LocalFree(text);
    while (!reason.empty() && (reason.back() == '\n' || reason.back() == '\r' || reason.back() == ' '))
        reason.pop_back();
    return file.string() + ": " + reason;
}

// Closes the handle, which also drops its lock.
class OpenFile {
public:
    explicit OpenFile(HANDLE handle) : handle_(handle) {}
    ~OpenFile()
    {
        if (handle_ != INVALID_HANDLE_VALUE)
            CloseHandle(handle_);
    }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;
    HANDLE get() const { return handle_; }

private:
    HANDLE handle_;
};

constexpr DWORD kWriterLockOffsetLow = 0xFFFFFFFE;
constexpr DWORD kWriterLockOffsetHigh = 0x7FFFFFFF;
// A writer of an earlier version locks the whole file while it appends; a reader waits for it
// this long, in short steps, before it gives up.
constexpr DWORD kLockedReadRetryMs = 20;
constexpr int kLockedReadTries = 100;

// Whether the file is empty or ends in a newline.
bool endsWithNewline(HANDLE file, LONGLONG size)
{
    if (size == 0)
        return true;
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>((size - 1) & 0xFFFFFFFF);
    at.OffsetHigh = static_cast<DWORD>((size - 1) >> 32);
    char last = 0;
    DWORD got = 0;
    return ReadFile(file, &last, 1, &got, &at) && got == 1 && last == '\n';
}

std::string fromWide(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return {};
    std::string result(static_cast<std::size_t>(size - 1), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), size, nullptr, nullptr);
    return result;
}

} // namespace

std::filesystem::path defaultHistoryFile()
{
    const wchar_t* data = _wgetenv(L"LOCALAPPDATA");
    if (data == nullptr || *data == L'\0')
        return {};
    return std::filesystem::path(data) / L"FieldKit" / L"history.jsonl";
}

std::optional<std::string> appendLine(const std::filesystem::path& file, const std::string& line)
{
    const OpenFile out(CreateFileW(file.c_str(), GENERIC_READ | FILE_APPEND_DATA,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (out.get() == INVALID_HANDLE_VALUE)
        return systemError(file);
    // Every writer holds the lock from looking at the last byte until its line is written.
    // Windows keeps readers out of a locked range, so the lock is on one byte far beyond any
    // end a file reaches: writers exclude one another (the whole-file lock of earlier
    // versions covers that byte too) and readers never meet it.
    OVERLAPPED whole{};
    whole.Offset = kWriterLockOffsetLow;
    whole.OffsetHigh = kWriterLockOffsetHigh;
    if (!LockFileEx(out.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &whole))
        return systemError(file);
    LARGE_INTEGER size{};
    std::optional<std::string> failure;
    if (!GetFileSizeEx(out.get(), &size)) {
        failure = systemError(file);
    } else {
        const std::string text = endsWithNewline(out.get(), size.QuadPart) ? line : '\n' + line;
        // With FILE_APPEND_DATA alone every write goes to the end of the file.
        DWORD written = 0;
        if (!WriteFile(out.get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
            written != text.size())
            failure = systemError(file);
        else if (!FlushFileBuffers(out.get()))
            failure = systemError(file);
    }
    UnlockFileEx(out.get(), 0, 1, 0, &whole);
    return failure;
}

std::optional<std::string> readInPieces(const std::filesystem::path& file,
                                        const std::function<void(std::string_view)>& take)
{
    const OpenFile in(CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (in.get() == INVALID_HANDLE_VALUE)
        return systemError(file);
    BY_HANDLE_FILE_INFORMATION information{};
    if (GetFileInformationByHandle(in.get(), &information) &&
        (information.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0)
        return file.string() + ": is a folder, not a file";
    if (GetFileType(in.get()) != FILE_TYPE_DISK)
        return file.string() + ": is not a regular file";
    std::uintmax_t total = 0;
    char buffer[65536];
    for (int lockedTries = 0;;) {
        DWORD count = 0;
        if (!ReadFile(in.get(), buffer, sizeof buffer, &count, nullptr)) {
            if (GetLastError() == ERROR_LOCK_VIOLATION && ++lockedTries < kLockedReadTries) {
                Sleep(kLockedReadRetryMs);
                continue;
            }
            return systemError(file);
        }
        if (count == 0)
            return std::nullopt;
        total += count;
        if (total > kLargestHistory)
            return file.string() + ": is larger than " + std::to_string(kLargestHistory >> 20) + " MiB";
        take({buffer, count});
    }
}

std::string hostName()
{
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    return GetComputerNameW(name, &size) ? fromWide(name) : std::string();
}

std::string userName()
{
    wchar_t name[256] = {};
    DWORD size = 256;
    return GetUserNameW(name, &size) ? fromWide(name) : std::string();
}

} // namespace fieldkit::history::platform
