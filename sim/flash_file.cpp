#include "sim/flash_file.h"

#include "core/atomic_file.h"
#include "sim/board_map.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace fieldkit::sim {
std::vector<std::uint8_t> readFlashFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw std::runtime_error("cannot read flash file " + path + ": " + std::strerror(errno));
    std::vector<std::uint8_t> content((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (file.bad())
        throw std::runtime_error("cannot read flash file " + path);
    if (content.size() != kFlashSize)
        throw std::runtime_error("flash file " + path + " holds " + std::to_string(content.size()) +
                                 " bytes; a flash image is exactly 1048576 bytes");
    return content;
}

bool writeFlashFile(const std::string& path, std::span<const std::uint8_t> flash, std::string* error)
{
    // A dump has to be whole for whoever reads it next, not survive a power cut, and the
    // board writes one before it answers a finish command: no waiting for the disk.
    return replaceFile(path, flash, Durability::Cached, error);
}

} // namespace fieldkit::sim
