// Waiting on the database connection's socket on Windows, where libpq's socket is a SOCKET.

#include "shop/postgresql/socket_wait.h"

#include <winsock2.h>

namespace fieldkit::shop::platform {

SocketWait waitForSocket(int socket, bool forWrite, std::chrono::milliseconds bound)
{
    WSAPOLLFD watched{};
    watched.fd = static_cast<SOCKET>(socket);
    watched.events = forWrite ? POLLWRNORM : POLLRDNORM;
    const int ready = ::WSAPoll(&watched, 1, static_cast<INT>(bound.count()));
    if (ready > 0)
        return SocketWait::Ready;
    return ready == 0 ? SocketWait::TimedOut : SocketWait::Failed;
}

} // namespace fieldkit::shop::platform
