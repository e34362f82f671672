#pragma once

// Checks of the command line's numbers and byte strings, by the rules of core/numbers.h.

#include "core/numbers.h"

#include <CLI/CLI.hpp>

#include <cstddef>
#include <cstdint>

namespace fieldkit::cli {

// Option checks for CLI11, so a bad value is a usage error with the option named.
CLI::Validator numberUpTo(std::uint64_t largest);
CLI::Validator hexBytesAtLeast(std::size_t count);

} // namespace fieldkit::cli
