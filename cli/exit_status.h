#pragma once

namespace fieldkit::cli {

// Exit statuses of every fieldkit-cli command.
inline constexpr int kExitDone = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitDeclined = 3; // the user answered No to a question

} // namespace fieldkit::cli
