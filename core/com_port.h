#pragma once

// COM1 to COM4: the ports a programming cable can be set to, by their number.

#include <string>

namespace fieldkit {

inline constexpr int kLowestPort = 1;
inline constexpr int kHighestPort = 4;

inline bool isComPort(int port) { return port >= kLowestPort && port <= kHighestPort; }

// "COM3".
inline std::string comPortName(int port) { return "COM" + std::to_string(port); }

} // namespace fieldkit
