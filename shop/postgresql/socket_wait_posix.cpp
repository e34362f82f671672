// Waiting on the database connection's socket on Linux and other POSIX systems.

#include "shop/postgresql/socket_wait.h"

#include <cerrno>

#include <poll.h>

namespace fieldkit::shop::platform {

SocketWait waitForSocket(int socket, bool forWrite, std::chrono::milliseconds bound)
{
    pollfd watched{socket, static_cast<short>(forWrite ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(bound.count()));
    if (ready > 0 || (ready < 0 && errno == EINTR)) // a signal: the caller looks at its deadline again
        return SocketWait::Ready;
    return ready == 0 ? SocketWait::TimedOut : SocketWait::Failed;
}

} // namespace fieldkit::shop::platform
