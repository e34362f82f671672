#pragma once

// The option board as the emulator sees it from the inside: the addresses it answers reads
// at, the command words it takes, and the layout of its flash. The host keeps its own copy
// of the words it sends; the two sides share only the framing in wire/.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace fieldkit::sim {

// Board memory the host may read.
inline constexpr std::uint16_t ADDR_ESN = 0x0500;
inline constexpr std::uint16_t ADDR_VERIFY_STATUS = 0x0C00;
inline constexpr std::uint16_t ADDR_FIRMWARE_VERSION = 0x0D00;
inline constexpr std::uint16_t ADDR_IDENTITY_BLOCK = 0x2600;
inline constexpr std::uint16_t ADDR_PARAMETER_BLOCK = 0x4100;

inline constexpr std::size_t kEsnSize = 4;
inline constexpr std::size_t kVerifyStatusSize = 2;
inline constexpr std::size_t kVersionAnswerSize = 15;
inline constexpr std::size_t kVersionShortAnswerSize = 13; // what older hosts ask for on a retry
inline constexpr std::size_t kIdentityBlockSize = 23;
inline constexpr std::size_t kParameterBlockSize = 52;

// Identity block: byte 2 is the variant flag, bytes 3 to 6 the band-edge frequency in hertz,
// most significant byte first.
inline constexpr std::size_t kIdentityVariantFlagOffset = 2;
inline constexpr std::size_t kIdentityBandEdgeOffset = 3;

// Write addresses. The one-byte commands ignore the value of their data byte.
inline constexpr std::uint16_t ADDR_PAGE_DATA = 0x0000;   // the 256 bytes of the next page
inline constexpr std::uint16_t ADDR_PAGE_COMMIT = 0xFFFF; // magic, then the page's flash address
inline constexpr std::uint16_t CMD_SELECT_BLOCK = 0x0100; // + block number
inline constexpr std::uint16_t CMD_ERASE_BLOCK = 0x1100;  // + block number
inline constexpr std::uint16_t CMD_PROGRAMMING_MODE = 0x1201;
inline constexpr std::uint16_t CMD_VERIFY_APP = 0x1599;  // checksum, high byte first
inline constexpr std::uint16_t CMD_VERIFY_BOOT = 0x3000; // checksum, high byte first
inline constexpr std::uint16_t CMD_BOOT_COPY = 0x3100;
inline constexpr std::uint16_t CMD_FINISH = 0x1313;

inline constexpr std::size_t kCommandDataSize = 1;
inline constexpr std::size_t kVerifyDataSize = 2;

// The commit record: three magic bytes that guard against a stray write, then the flash
// address of the page, least significant byte first.
inline constexpr std::array<std::uint8_t, 3> kCommitMagic{0x0A, 0x0B, 0x0C};
inline constexpr std::size_t kCommitRecordSize = 6;

// A set bit 3 in the first status byte tells the host that a checksum did not match.
inline constexpr std::uint8_t kVerifyRejectedBit = 0x08;

// Flash: a 1 MiB address space; erased bytes read 0xFF and programming can only clear bits.
inline constexpr std::size_t kFlashSize = 0x100000;
inline constexpr std::uint8_t kErasedByte = 0xFF;
inline constexpr std::size_t kPageSize = 256;
inline constexpr std::uint32_t kBlockSize = 0x10000;

// The five application blocks, the only ones the board erases or programs on request.
struct FlashBlock {
    std::uint8_t number;
    std::uint32_t base;
};
inline constexpr std::array<FlashBlock, 5> kFlashBlockTable{{
    {0x1A, 0xA0000},
    {0x19, 0xB0000},
    {0x18, 0xC0000},
    {0x17, 0xD0000},
    {0x16, 0xE0000},
}};

inline constexpr std::optional<FlashBlock> flashBlock(std::uint8_t number)
{
    for (const FlashBlock& block : kFlashBlockTable)
        if (block.number == number)
            return block;
    return std::nullopt;
}

// New boot code is written to the temporary area at the start of the application area,
// checked there, and copied by the board into the boot area at the top of flash.
inline constexpr std::uint32_t kTemporaryAreaBase = 0xA0000;
inline constexpr std::uint32_t kBootAreaBase = 0xFC000;
inline constexpr std::uint32_t kBootAreaSize = 0x4000;
inline constexpr std::uint32_t kApplicationAreaBase = 0xA0000;
inline constexpr std::uint32_t kApplicationAreaSize = 0x50000;

// What the board says to a ping from the right radio.
inline constexpr std::array<std::uint8_t, 8> kPingSignature{'L', 'O', 'D', 'E', 'S', 'T', 'A', 'R'};
inline constexpr const char* kAnsweredRadioModel = "QM7731";
inline constexpr std::uint8_t kBoardBusAddress = 52;

} // namespace fieldkit::sim
