#include "app/info_text.h"

#include <algorithm>
#include <fstream>
#include <iterator>

namespace fieldkit::app {
namespace {

// The longest piece read at once: 99 bytes (a buffer of 100 with its terminating NUL).
constexpr std::size_t kPieceLength = 99;

} // namespace

std::string loadInfoText(const std::filesystem::path& file)
{
    std::string text;
    // std::ifstream takes the path as it is on every system (a wide string on Windows).
    std::ifstream stream(file, std::ios::binary);
    if (!stream)
        return text;
    const std::string bytes{std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>()};
    // Read the way the program always has: in pieces of at most 99 bytes that end after a
    // line end, each taken up to a NUL byte in it.
    for (std::size_t start = 0; start < bytes.size();) {
        const std::size_t lineEnd = bytes.find('\n', start);
        const std::size_t end = std::min({lineEnd == std::string::npos ? bytes.size() : lineEnd + 1,
                                          start + kPieceLength, bytes.size()});
        const auto first = bytes.begin() + static_cast<std::ptrdiff_t>(start);
        text.append(first, std::find(first, bytes.begin() + static_cast<std::ptrdiff_t>(end), '\0'));
        start = end;
    }
    return text;
}

} // namespace fieldkit::app
