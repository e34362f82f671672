#pragma once

#include "session/endings.h"

namespace fieldkit::cli {

// Exit statuses of every fieldkit-cli command, as every front end gives them.
using session::kExitDeclined;
using session::kExitDone;
using session::kExitFailed;
using session::kExitUsage;

} // namespace fieldkit::cli
