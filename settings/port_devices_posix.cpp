// What a device name means on Linux: the file it leads to.

#include "settings/port_devices.h"

#include <sys/stat.h>

#include <system_error>

namespace fieldkit::settings {

bool sameDevice(const std::string& first, const std::string& second)
{
    struct stat a {};
    struct stat b {};
    // stat follows links: /dev/serial/by-id/... and a link of the user's own lead to the tty.
    if (::stat(first.c_str(), &a) == 0 && ::stat(second.c_str(), &b) == 0) {
        if (a.st_dev == b.st_dev && a.st_ino == b.st_ino)
            return true;
        return S_ISCHR(a.st_mode) && S_ISCHR(b.st_mode) && a.st_rdev == b.st_rdev;
    }
    std::error_code ignored;
    return std::filesystem::weakly_canonical(first, ignored) == std::filesystem::weakly_canonical(second, ignored);
}

} // namespace fieldkit::settings
