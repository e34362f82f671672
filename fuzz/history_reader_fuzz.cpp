// libFuzzer entry point; the harness and what it checks are in fuzz/history_input.h.

#include "fuzz/history_input.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fieldkit::fuzz::replayHistoryFile(std::span<const std::uint8_t>(data, size));
    return 0;
}
