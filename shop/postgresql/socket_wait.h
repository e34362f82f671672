#pragma once

// Waiting on the database connection's socket, one implementation per platform.

#include <chrono>

namespace fieldkit::shop::platform {

enum class SocketWait { Ready, TimedOut, Failed };

// Waits until the socket can be read (or written, with `forWrite`), at most `bound`.
SocketWait waitForSocket(int socket, bool forWrite, std::chrono::milliseconds bound);

} // namespace fieldkit::shop::platform
