#pragma once

#include "flash/upgrade_worker.h"

#include <cstring>
#include <string>
#include <utility>

namespace fieldkit::cli {

// The settings an upgrade takes from the main window, read from AppConfig.ini here.
class SettingsFrame final : public flash::UpgradeFrame {
public:
    SettingsFrame(int port, std::string version) : port_(port), version_(std::move(version)) {}

    int GetPort() override { return port_; }
    int GetFirmwareVersion(char* buffer, int size) override
    {
        const int needed = static_cast<int>(version_.size()) + 1;
        if (size < needed)
            return needed;
        std::memcpy(buffer, version_.c_str(), static_cast<std::size_t>(needed));
        return 0;
    }

private:
    int port_;
    std::string version_;
};

} // namespace fieldkit::cli
