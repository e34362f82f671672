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
    // The whole file is locked: every writer holds it from looking at the last byte until its
    // line is written.
    OVERLAPPED whole{};
    if (!LockFileEx(out.get(), LOCKFILE_EXCLUSIVE_LOCK, 0, MAXDWORD, MAXDWORD, &whole))
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
    UnlockFileEx(out.get(), 0, MAXDWORD, MAXDWORD, &whole);
    return failure;
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
