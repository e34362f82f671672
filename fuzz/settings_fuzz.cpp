// libFuzzer entry point; the harness and what it checks are in fuzz/settings_input.h.

#include "fuzz/settings_input.h"

#include <cstddef>
#include <cstdint>
#include <span>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    fieldkit::fuzz::replaySettingsInput(std::span<const std::uint8_t>(data, size));
    return 0;
}
