#pragma once

#include <filesystem>
#include <random>
#include <string>
#include <system_error>

namespace fieldkit::testing {

// A fresh folder under the system's temporary folder, removed with everything in it, even
// when a test has taken its permissions away.
class TempDir {
public:
    TempDir()
    {
        std::random_device seed;
        const auto base = std::filesystem::temp_directory_path();
        do
            path_ = base / ("fieldkit-test-" + std::to_string(seed()));
        while (!std::filesystem::create_directory(path_));
    }
    ~TempDir()
    {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
    std::string file(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

} // namespace fieldkit::testing
