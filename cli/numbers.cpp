#include "cli/numbers.h"

#include <string>

namespace fieldkit::cli {

CLI::Validator numberUpTo(std::uint64_t largest)
{
    return CLI::Validator(
        [largest](std::string& text) -> std::string {
            const auto value = parseNumber(text);
            if (!value)
                return "'" + text + "' is not a decimal or 0x hex number";
            if (*value > largest)
                return text + " is larger than " + std::to_string(largest);
            return {};
        },
        "");
}

CLI::Validator hexBytesAtLeast(std::size_t count)
{
    return CLI::Validator(
        [count](std::string& text) -> std::string {
            const auto bytes = parseHexBytes(text);
            if (!bytes)
                return "expected pairs of hex digits";
            if (bytes->size() < count)
                return "expected at least " + std::to_string(count) + " bytes, got " + std::to_string(bytes->size());
            return {};
        },
        "");
}

} // namespace fieldkit::cli
