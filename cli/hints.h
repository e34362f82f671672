#pragma once

// Lines the command line adds below a message of the system's own when that message alone
// would leave the technician guessing at the cause. The messages themselves stay exactly as
// the desktop program shows them; every function gives "" when there is nothing to add.

#include "link/serial_board_link.h"

#include <filesystem>
#include <string>

namespace fieldkit::cli {

class FailureHints {
public:
    // `link` is the board link the command talks through, `port` its COM port and `device`
    // what that port means, `directory` the folder the firmware files are read from.
    FailureHints(const link::SerialBoardLink& link, int port, std::string device, std::filesystem::path directory);

    // The hint for a box with this text: why a firmware file could not be read, the first
    // fault in a firmware file with errors, why the port did not open, or whether the board
    // stayed silent or answered garbage.
    std::string forMessage(const std::string& message) const;

private:
    std::string openFailureHint() const;
    std::string silentBoardHint() const;

    const link::SerialBoardLink& link_;
    int port_;
    std::string device_;
    std::filesystem::path directory_;
};

// A settings file that is there but cannot be read, and so is read as missing; "" otherwise.
std::string unreadableSettingsHint(const std::filesystem::path& file);

// For a port value without the "COM" prefix, which is read as COM1 without a word.
std::string portWithoutPrefixHint(const std::filesystem::path& file);

} // namespace fieldkit::cli
