// The push lock on Windows: LockFileEx on the lock file's first byte.

#include "shop/push_lock.h"

#include <windows.h>

namespace fieldkit::shop {

PushLock::PushLock(const std::filesystem::path& file, bool wait)
{
    const HANDLE opened = CreateFileW(file.c_str(), GENERIC_READ | GENERIC_WRITE,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (opened == INVALID_HANDLE_VALUE) {
        error_ = file.string() + ": the system's error " + std::to_string(GetLastError());
        return;
    }
    handle_ = reinterpret_cast<std::intptr_t>(opened);
    OVERLAPPED first{};
    if (LockFileEx(opened, LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY), 0, 1, 0, &first))
        state_ = State::Held;
    else if (GetLastError() == ERROR_LOCK_VIOLATION)
        state_ = State::Busy;
    else
        error_ = file.string() + ": the system's error " + std::to_string(GetLastError());
}

PushLock::~PushLock()
{
    if (handle_ != -1)
        CloseHandle(reinterpret_cast<HANDLE>(handle_)); // which lets the lock go
}

} // namespace fieldkit::shop
