#include "app/info_text.h"

#include <cstdio>
#include <memory>

namespace fieldkit::app {
namespace {

// 99 bytes of text and the terminating NUL.
constexpr int kPieceBuffer = 100;

} // namespace

std::string loadInfoText(const std::filesystem::path& file)
{
    std::string text;
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> stream(std::fopen(file.c_str(), "rb"), &std::fclose);
    if (!stream)
        return text;
    char piece[kPieceBuffer];
    while (std::fgets(piece, kPieceBuffer, stream.get()) != nullptr)
        text += piece;
    return text;
}

} // namespace fieldkit::app
