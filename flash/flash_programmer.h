#pragma once

#include "core/clock.h"
#include "core/stop.h"
#include "core/upgrade_notices.h"
#include "link/board_link.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <span>

namespace fieldkit::flash {

// The board's erase and programming units: a block number and the flash address it starts at.
struct FlashBlock {
    std::uint8_t blockNumber;
    std::uint32_t baseAddress;
};

// Rows 6 to 10 are the five 64 KB application blocks the upgrade erases and programs;
// rows 0 to 4 hold the boot code and are never touched from here.
inline constexpr std::array<FlashBlock, 11> FlashBlockTable{{
    {0x00, 0xFF000},
    {0x11, 0xFE000},
    {0x12, 0xFC000},
    {0x13, 0xFA000},
    {0x14, 0xF8000},
    {0x15, 0xF0000},
    {0x16, 0xE0000},
    {0x17, 0xD0000},
    {0x18, 0xC0000},
    {0x19, 0xB0000},
    {0x1A, 0xA0000},
}};
inline constexpr std::size_t kFirstSelectableRow = 5;
inline constexpr std::size_t kFirstErasedRow = 10; // erased from row 10 down to row 6
inline constexpr std::size_t kLastErasedRow = 6;

// Command words and board addresses of the programming protocol.
inline constexpr std::uint32_t CMD_SELECT_BLOCK = 0x0100; // + block number
inline constexpr std::uint32_t ADDR_PAGE_DATA = 0x0000;
inline constexpr std::uint32_t ADDR_PAGE_COMMIT = 0xFFFF;
inline constexpr std::uint32_t CMD_ERASE_BLOCK = 0x1100; // + block number
inline constexpr std::uint32_t CMD_PROGRAMMING_MODE = 0x1201;
inline constexpr std::uint32_t CMD_VERIFY_BOOT = 0x3000;
inline constexpr std::uint32_t CMD_VERIFY_APP = 0x1599;
inline constexpr std::uint32_t CMD_BOOT_COPY = 0x3100;
inline constexpr std::uint32_t CMD_FINISH = 0x1313;
inline constexpr std::uint32_t ADDR_VERIFY_STATUS = 0x0C00;

// What blockSelectWord answers for an address outside every selectable block.
inline constexpr std::uint32_t kNoBlockSelectWord = 0xDEADBEEF;

inline constexpr std::uint32_t kPageSize = 256;
inline constexpr std::uint32_t kProgrammableFirst = 0xA0000;
inline constexpr std::uint32_t kProgrammableLast = 0xEFFFF;

// The board ignores the value of the byte that carries a one-byte command; we always send 0.
inline constexpr std::uint8_t kCommandDataByte = 0x00;

// The commit record starts with this fixed marker, then the page's flash address.
inline constexpr std::array<std::uint8_t, 3> kPageCommitMarker{0x0A, 0x0B, 0x0C};

inline constexpr int kPageWriteTries = 3;
inline constexpr std::chrono::milliseconds kFailedPageWritePause{200};
// The board needs this long to sum a region before its verdict can be read.
inline constexpr std::chrono::milliseconds kVerifyPause{2000};
// Bit of the first status byte with which the board rejects a checksum.
inline constexpr std::uint8_t kChecksumRejectedBit = 0x08;

// Results of the programming operations: 0, or a distinct negative value per operation for
// the step that failed. Nothing is sent after a failed step.
inline constexpr int FLASH_OK = 0;
// writePage: the request that failed.
inline constexpr int PAGE_SELECT_FAILED = -3;
inline constexpr int PAGE_DATA_FAILED = -4;
inline constexpr int PAGE_COMMIT_FAILED = -5;
// writeRegion
inline constexpr int REGION_NO_DATA = -1;
inline constexpr int REGION_START_OUTSIDE = -2; // before or after the programmable area
inline constexpr int REGION_END_BEYOND = -3;    // runs past the programmable area
inline constexpr int REGION_PAGE_FAILED = -4;   // a page failed all its tries
inline constexpr int REGION_STOPPED = -5;       // a stop was requested; every page sent is whole
// verifyRegionChecksum
inline constexpr int VERIFY_SEND_FAILED = -1;
inline constexpr int VERIFY_STATUS_READ_FAILED = -2;
inline constexpr int VERIFY_CHECKSUM_REJECTED = -3;

// Pages of 256 bytes, counted from the first byte, that hold anything but 0xFF; a shorter
// last page counts by its bytes within the range.
std::uint32_t countNonBlankPages(std::span<const std::uint8_t> data);

// The CMD_SELECT_BLOCK word for the block holding `address`, or kNoBlockSelectWord.
std::uint32_t blockSelectWord(std::uint32_t address);

// The board's programming commands over an open board connection. Every operation returns
// 0 or a distinct negative value naming the step that failed, and sends nothing after it.
class FlashProgrammer {
public:
    // `stop`, when given, is looked at before each page: a requested stop ends a region
    // between two pages, never inside one, once the pages on the line are settled.
    FlashProgrammer(link::BoardLink& link, Clock& clock, const UpgradeStop* stop = nullptr)
        : link_(link), clock_(clock), stop_(stop)
    {
    }

    // Select, page data, commit: FLASH_OK or the PAGE_ result of the write that failed.
    int writePage(int port, std::span<const std::uint8_t, kPageSize> page, std::uint32_t address);

    // Writes `data` to flash from `address` page by page, skipping blank pages, three tries a
    // page with a pause after each failed try, a page-done notice after each written page.
    // The writes stream through the link's write window, several pages on the line at once
    // when the board holds them; a page is written once all three of its writes are
    // acknowledged, and the pages on the line when one fails are settled before it is tried
    // again. A last page shorter than 256 bytes is sent with its missing tail as 0xFF, which
    // leaves the erased flash behind it as it was; nothing outside `data` is read.
    // FLASH_OK or a REGION_ result.
    int writeRegion(int port, std::span<const std::uint8_t> data, std::uint32_t address,
                    UpgradeNotices* notifyWindow);

    // Sends the checksum (high byte first) with `commandWord`, waits for the board to sum
    // the region and reads its verdict: FLASH_OK or a VERIFY_ result.
    int verifyRegionChecksum(int port, std::uint32_t commandWord, std::uint16_t checksum);

    // One command word with its data byte; the link's result unchanged.
    int sendCommand(int port, std::uint32_t commandWord);

    // Pages the board has confirmed, over every region written so far.
    std::uint32_t pagesWritten() const { return pagesWritten_; }

private:
    link::BoardLink& link_;
    Clock& clock_;
    const UpgradeStop* stop_;
    std::uint32_t pagesWritten_ = 0;
};

} // namespace fieldkit::flash
