#pragma once

// Everything that makes one emulated board differ from another: where it is served, what it
// answers, and which faults it shows. lodestar-sim and the front ends' simulation mode parse
// the same options with the same code.

#include "sim/board_map.h"
#include "wire/protocol.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace CLI {
class App;
}

namespace fieldkit::sim {

inline constexpr std::uint32_t kDefaultEsn = 0x1E3A5C71;
inline constexpr const char* kDefaultVersionText = "R07.12.00";
inline constexpr std::uint32_t kDefaultBandEdgeHz = 403000000;
inline constexpr std::uint8_t kDefaultVariantFlag = 0;
inline constexpr std::uint32_t kDefaultSeed = 1;
// Room for more than three pages' writes: enough to keep the line busy while a USB adapter
// holds the answers back for its 16 ms.
inline constexpr std::size_t kDefaultReceiveBuffer = 1024;
inline constexpr std::size_t kLargestReceiveBuffer = 0xFFFF; // what the ping answer can say

// Which of the board's two checksum verifications a fault applies to.
enum class VerifyTarget { Boot, Application };

struct BoardOptions {
    // Where lodestar-sim serves the board: a new pseudo-terminal, made reachable under
    // `linkPath` when that is set, or the real serial device `devicePath`.
    std::string linkPath;
    std::string devicePath;

    // What the board answers.
    std::uint32_t esn = kDefaultEsn;
    std::string versionText = kDefaultVersionText;                      // NUL-padded to 15 bytes
    std::optional<std::vector<std::uint8_t>> versionHex;                // the raw answer instead
    std::optional<std::vector<std::uint8_t>> identityHex;               // the whole identity block
    std::optional<std::uint32_t> bandEdgeHz;                            // overrides identity bytes 3-6
    std::optional<std::uint8_t> variantFlag;                            // overrides identity byte 2
    std::optional<std::vector<std::uint8_t>> parameterBlockHex;         // the whole parameter block
    bool answerPing = true;
    bool markAsEmulator = true; // the ping answer says "emulated board"; tests clear it
    // Protocol version 2 says in the ping answer how many bytes of requests the board holds,
    // and remembers the answers of that many requests for resends; version 1 is a board that
    // says nothing and takes one request at a time.
    std::uint8_t protocolVersion = wire::kWindowProtocolVersion;
    // Bytes of requests the board holds until it has answered them; bytes that arrive while
    // it is full are lost, as a UART loses them.
    std::size_t receiveBufferBytes = kDefaultReceiveBuffer;

    // Board faults.
    std::set<std::uint16_t> failReads;                               // every read at the address
    std::set<std::pair<std::uint16_t, std::size_t>> failReadLengths; // reads of that length only
    std::optional<unsigned> failEveryPageWrite;                      // first N attempts of each page
    std::map<std::uint32_t, unsigned> failPageWriteAt;               // first N attempts at that page
    std::set<std::uint16_t> failCommands;                            // writes to that word
    std::set<VerifyTarget> rejectVerify;                             // status bit 3 whatever the sum

    // Line faults and pacing. 0 turns noise, drop and pacing off.
    unsigned noiseOneIn = 0;
    unsigned dropOneIn = 0;
    std::optional<std::uint64_t> deadAfterBytes;
    unsigned baud = 0;
    // The latency timer of a USB adapter on the host's side: answers are held until it runs
    // out or a USB packet fills.
    std::chrono::milliseconds latency{0};
    std::uint32_t seed = kDefaultSeed;

    // Flash content at start and where to dump it.
    std::string flashFile;
    std::string dumpFlashFile;
    // Where to write a line for every request the board receives (see RequestLog).
    std::string requestLogFile;

    // The answer to a 15-byte version read (a 13-byte read gets its first 13 bytes).
    std::array<std::uint8_t, kVersionAnswerSize> versionAnswer() const;
    // identityHex (or the default block), with bandEdgeHz and variantFlag laid over it.
    std::array<std::uint8_t, kIdentityBlockSize> identityBlock() const;

    // The 52-byte parameter block: parameterBlockHex zero-padded, or by default the ESN and its
    // complement (least significant byte first, as boards carry them) and then a counting
    // pattern, so every byte is recognisable where it lands.
    std::vector<std::uint8_t> parameterBlock() const;
};

// Adds every board option to `app`, storing into `options`. Numbers take decimal or 0x hex;
// a malformed value fails the parse with a message that names the option.
void addBoardOptions(CLI::App& app, BoardOptions& options);

// The option words in values of a repeatable option that each may carry several, such as
// --sim-option "--fail-command 0x1118": every value split at white space, in order.
std::vector<std::string> splitOptionWords(const std::vector<std::string>& values);

// A board option line that does not parse: reason() names the bad option in one line, what()
// adds the usage text.
class BadBoardOptions : public std::invalid_argument {
public:
    BadBoardOptions(const std::string& reason, const std::string& usage)
        : std::invalid_argument(reason + "\n\n" + usage), reason_(reason)
    {
    }
    const std::string& reason() const { return reason_; }

private:
    std::string reason_;
};

// Parses option words (without a program name), e.g. {"--esn", "0x12345678", "--no-ping"}.
// Throws BadBoardOptions on a bad option.
BoardOptions parseBoardOptions(const std::vector<std::string>& args);

} // namespace fieldkit::sim
