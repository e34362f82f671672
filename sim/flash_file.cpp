#include "sim/flash_file.h"

#include "sim/board_map.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fieldkit::sim {
namespace {

bool failWith(std::string* error, const std::string& what, int errorNumber)
{
    if (error)
        *error = what + ": " + std::strerror(errorNumber);
    return false;
}

} // namespace

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
    std::string temporary = path + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0)
        return failWith(error, "cannot create " + temporary, errno);
    std::size_t written = 0;
    while (written < flash.size()) {
        const ssize_t n = ::write(fd, flash.data() + written, flash.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int cause = n < 0 ? errno : EIO;
            ::close(fd);
            ::unlink(temporary.c_str());
            return failWith(error, "cannot write " + temporary, cause);
        }
        written += static_cast<std::size_t>(n);
    }
    // mkstemp makes the file private to its owner; a dump is an ordinary file.
    ::fchmod(fd, 0644);
    // No fsync: a dump has to be whole for whoever reads it next, not survive a power cut,
    // and the board writes one before it answers a finish command.
    if (::close(fd) != 0) {
        const int cause = errno;
        ::unlink(temporary.c_str());
        return failWith(error, "cannot write " + temporary, cause);
    }
    if (::rename(temporary.c_str(), path.c_str()) != 0) {
        const int cause = errno;
        ::unlink(temporary.c_str());
        return failWith(error, "cannot replace " + path, cause);
    }
    return true;
}

} // namespace fieldkit::sim
