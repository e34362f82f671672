#pragma once

// Paths as the program's texts carry them: UTF-8 on every platform. Arguments, environment
// values and messages are UTF-8 (on Windows through the program's manifest), but the C++
// library turns a narrow string into a Windows path byte by byte, so a folder named
// "Prüfstand" would become another name; these go through UTF-8 explicitly.

#include <filesystem>
#include <string>
#include <string_view>

namespace fieldkit {

std::filesystem::path pathFromText(std::string_view utf8);
std::string textOf(const std::filesystem::path& path);

} // namespace fieldkit
