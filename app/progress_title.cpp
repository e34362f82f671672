#include "app/progress_title.h"

#include <cstdint>
#include <cstdio>

namespace fieldkit::app {

std::optional<std::string> progressTitle(int position, int upperBound)
{
    if (upperBound <= 0)
        return std::nullopt;
    // The product wraps like the 32-bit multiply it has always been (defined behaviour
    // through the unsigned type); page counts of a 384 KB image never come near it.
    const auto scaled = static_cast<std::int32_t>(static_cast<std::uint32_t>(position) * 1000U);
    const std::int32_t tenths = scaled / upperBound;
    char title[32];
    std::snprintf(title, sizeof title, " %i.%i%% Done", tenths / 10, tenths % 10);
    return std::string(title);
}

} // namespace fieldkit::app
