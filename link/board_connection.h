#pragma once

#include "core/causes.h"
#include "core/clock.h"
#include "core/upgrade_notices.h"
#include "link/board_link.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace fieldkit::link {

// Board memory that identifies the board.
inline constexpr std::uint16_t ADDR_ESN = 0x0500;
inline constexpr std::uint16_t ADDR_FIRMWARE_VERSION = 0x0D00;
inline constexpr std::uint16_t ADDR_IDENTITY_BLOCK = 0x2600;
inline constexpr std::uint16_t ADDR_PARAMETER_BLOCK = 0x4100;

inline constexpr std::uint32_t kEsnSize = 4;
inline constexpr std::uint32_t kVersionSize = 15;
inline constexpr std::uint32_t kVersionRetrySize = 13;
inline constexpr std::uint32_t kIdentityBlockSize = 23;
inline constexpr std::uint32_t kParameterBlockSize = 52;
inline constexpr std::size_t kMaxVersionLength = 13;

// What the link library is told about the radio it talks through.
inline constexpr const char* kRadioModel = "QM7731";
inline constexpr const char* kModelNumber = "ZZQ83LKW4PXT0B";
inline constexpr int kLargestRead = 52;
inline constexpr int kBoardAddress = 52;

// Pause after the ping and after every board read of an upgrade.
inline constexpr std::chrono::milliseconds kBoardReadPause{200};

// The link is part of this program: the message names no library file.
inline constexpr const char* kInitFailed = "Failed to initialize the board link";
inline constexpr const char* kReadTimersFailed = "Failed to read timers";
inline constexpr const char* kConfigureTimersFailed = "Failed to configure timers";
inline constexpr const char* kOpenPortFailed = "Failed to open serial port";
inline constexpr const char* kPingFailed =
    "Failed to communicate with the option board.\n\nPlease switch the radio to a Lodestar zone.";
inline constexpr const char* kReadVersionFailed = "Failed to read firmware version";
inline constexpr const char* kReadEsnFailed = "Failed to read ESN";
inline constexpr const char* kVerifyingBoardStatus = "Verifying the option board";

struct BoardIdentity {
    std::string boardVersionText;
    std::uint32_t esn = 0;
    bool portOpen = false;
    std::string esnText;
    std::uint32_t bandEdgeFrequency = 0;
    int band = 0;       // BoardBand, 0 to 3
    int variantBit = 0; // 0 or 1
    int configVariant = 0;
    bool boardChecksEnabled = true;
    bool emulatedBoard = false; // the ping was answered by the emulator
};

// A step of the connection sequence that failed: its kind and the message the user sees.
struct ConnectionFailure {
    FailureKind kind;
    std::string text;
    bool operator==(const ConnectionFailure&) const = default;
};

// Pure decoding of the board's answers.
int bandFromEdgeFrequency(std::uint32_t bandEdgeFrequency);
// Leading printable run (0x20-0x7E) of at most 13 bytes, trailing spaces removed if asked.
std::string versionTextFromAnswer(std::span<const std::uint8_t> answer, bool trimTrailingSpaces);
std::uint32_t esnFromBytes(std::span<const std::uint8_t, 4> bytes);
std::string esnTextOf(std::uint32_t esn); // signed decimal

// The connection sequence and identity reads shared by the upgrade and the board
// information command. `pauses` (the upgrade's) adds 200 ms after the ping and every read.
class BoardConnection {
public:
    BoardConnection(BoardLink& link, Clock& clock);
    ~BoardConnection(); // closes the port if still open
    BoardConnection(const BoardConnection&) = delete;
    BoardConnection& operator=(const BoardConnection&) = delete;

    // The open sequence; on failure the failing step. `statusWindow` receives "Verifying the
    // option board" when present.
    std::optional<ConnectionFailure> open(int port, bool pauses, UpgradeNotices* statusWindow);

    // Upgrade only: band, variant flag and configVariant, or boardChecksEnabled cleared.
    void readIdentityBlock();
    // Fills boardVersionText; false when both the 15- and the 13-byte read failed.
    bool readFirmwareVersion(bool trimTrailingSpaces);
    // Fills esn and esnText; false on failure (message kReadEsnFailed).
    bool readEsn();
    // The board-information sequence: the open sequence without pauses, the firmware version
    // as the board gives it, then the ESN. The port stays open on success.
    std::optional<ConnectionFailure> readBoardInformation(int port);
    // One ReadDataOnly on the open connection, followed by the pause when pauses are on.
    bool read(std::uint16_t address, std::span<std::uint8_t> into);
    // ClosePort exactly when the connection's own OpenPort succeeded; idempotent.
    void close();

    BoardIdentity& identity() { return identity_; }
    const BoardIdentity& identity() const { return identity_; }
    int port() const { return port_; }
    BoardLink& link() { return link_; }

private:
    BoardLink& link_;
    Clock& clock_;
    BoardIdentity identity_;
    int port_ = 0;
    bool pauses_ = false;
};

} // namespace fieldkit::link
