#include "cli/numbers.h"

#include <limits>
#include <string>

namespace fieldkit::cli {

namespace {

int digitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

std::optional<std::uint64_t> parseNumber(std::string_view text)
{
    unsigned base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty())
        return std::nullopt;
    std::uint64_t value = 0;
    for (const char c : text) {
        const int digit = digitValue(c);
        if (digit < 0 || static_cast<unsigned>(digit) >= base)
            return std::nullopt;
        if (value > (std::numeric_limits<std::uint64_t>::max() - static_cast<unsigned>(digit)) / base)
            return std::nullopt;
        value = value * base + static_cast<unsigned>(digit);
    }
    return value;
}

std::optional<std::vector<std::uint8_t>> parseHexBytes(std::string_view text)
{
    std::vector<std::uint8_t> bytes;
    int high = -1;
    for (const char c : text) {
        if (c == ' ' || c == ':' || c == '-') {
            if (high >= 0)
                return std::nullopt; // a separator inside a byte
            continue;
        }
        const int digit = digitValue(c);
        if (digit < 0)
            return std::nullopt;
        if (high < 0) {
            high = digit;
        } else {
            bytes.push_back(static_cast<std::uint8_t>(high << 4 | digit));
            high = -1;
        }
    }
    if (high >= 0)
        return std::nullopt;
    return bytes;
}

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
