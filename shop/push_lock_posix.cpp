// The push lock on Linux and other POSIX systems: flock, which every open of the file holds
// apart, threads of one program included.

#include "shop/push_lock.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace fieldkit::shop {

PushLock::PushLock(const std::filesystem::path& file, bool wait)
{
    const int descriptor = ::open(file.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (descriptor < 0) {
        error_ = file.string() + ": " + std::strerror(errno);
        return;
    }
    handle_ = descriptor;
    int result = 0;
    while ((result = ::flock(descriptor, LOCK_EX | (wait ? 0 : LOCK_NB))) != 0 && errno == EINTR) {
    }
    if (result == 0)
        state_ = State::Held;
    else if (errno == EWOULDBLOCK)
        state_ = State::Busy;
    else
        error_ = file.string() + ": " + std::strerror(errno);
}

PushLock::~PushLock()
{
    if (handle_ >= 0)
        ::close(static_cast<int>(handle_)); // which lets the lock go
}

} // namespace fieldkit::shop
