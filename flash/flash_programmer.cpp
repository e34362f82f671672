#include "flash/flash_programmer.h"

#include <algorithm>

namespace fieldkit::flash {
namespace {

bool isBlank(std::span<const std::uint8_t> bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](std::uint8_t byte) { return byte == 0xFF; });
}

} // namespace

std::uint32_t countNonBlankPages(std::span<const std::uint8_t> data)
{
    std::uint32_t pages = 0;
    for (std::size_t start = 0; start < data.size(); start += kPageSize)
        if (!isBlank(data.subspan(start, std::min<std::size_t>(kPageSize, data.size() - start))))
            ++pages;
    return pages;
}

std::uint32_t blockSelectWord(std::uint32_t address)
{
    // The comparison includes the byte just past each 64 KB block, so a row's range
    // overlaps the next one's first byte; taking rows in this order decides the overlap.
    for (std::size_t row = kFirstSelectableRow; row < FlashBlockTable.size(); ++row) {
        const auto& block = FlashBlockTable[row];
        if (block.baseAddress <= address && address <= block.baseAddress + 0x10000)
            return CMD_SELECT_BLOCK + block.blockNumber;
    }
    return kNoBlockSelectWord;
}

int FlashProgrammer::writePage(int port, std::span<const std::uint8_t, kPageSize> page, std::uint32_t address)
{
    const std::uint8_t selectData = kCommandDataByte;
    if (link_.WriteDataOnly(port, &selectData, blockSelectWord(address), 1, 0) != 0)
        return PAGE_SELECT_FAILED;
    if (link_.WriteDataOnly(port, page.data(), ADDR_PAGE_DATA, kPageSize, 0) != 0)
        return PAGE_DATA_FAILED;
    const std::array<std::uint8_t, 6> commit{kPageCommitMarker[0],
                                             kPageCommitMarker[1],
                                             kPageCommitMarker[2],
                                             static_cast<std::uint8_t>(address & 0xFF),
                                             static_cast<std::uint8_t>((address >> 8) & 0xFF),
                                             static_cast<std::uint8_t>((address >> 16) & 0xFF)};
    if (link_.WriteDataOnly(port, commit.data(), ADDR_PAGE_COMMIT, commit.size(), 0) != 0)
        return PAGE_COMMIT_FAILED;
    return FLASH_OK;
}

int FlashProgrammer::writeRegion(int port, std::span<const std::uint8_t> data, std::uint32_t address,
                                 UpgradeNotices* notifyWindow)
{
    if (data.data() == nullptr)
        return REGION_NO_DATA;
    if (address < kProgrammableFirst || address > kProgrammableLast)
        return REGION_START_OUTSIDE;
    if (!data.empty() && std::uint64_t{address} + data.size() - 1 > kProgrammableLast)
        return REGION_END_BEYOND;

    for (std::size_t offset = 0; offset < data.size(); offset += kPageSize) {
        std::array<std::uint8_t, kPageSize> page;
        page.fill(0xFF);
        const auto given = data.subspan(offset, std::min<std::size_t>(kPageSize, data.size() - offset));
        std::copy(given.begin(), given.end(), page.begin());
        if (isBlank(page))
            continue;
        if (stop_ != nullptr && stop_->requested())
            return REGION_STOPPED;

        const auto pageAddress = static_cast<std::uint32_t>(address + offset);
        bool written = false;
        for (int attempt = 0; attempt < kPageWriteTries && !written; ++attempt) {
            written = writePage(port, page, pageAddress) == FLASH_OK;
            if (!written)
                clock_.sleep(kFailedPageWritePause);
        }
        if (!written)
            return REGION_PAGE_FAILED;
        ++pagesWritten_;
        if (notifyWindow)
            notifyWindow->pageDone();
    }
    return FLASH_OK;
}

int FlashProgrammer::verifyRegionChecksum(int port, std::uint32_t commandWord, std::uint16_t checksum)
{
    const std::array<std::uint8_t, 2> sent{static_cast<std::uint8_t>(checksum >> 8),
                                           static_cast<std::uint8_t>(checksum & 0xFF)};
    if (link_.WriteDataOnly(port, sent.data(), commandWord, sent.size(), 0) != 0)
        return VERIFY_SEND_FAILED;
    clock_.sleep(kVerifyPause);
    std::array<std::uint8_t, 2> status{};
    if (link_.ReadDataOnly(port, status.data(), ADDR_VERIFY_STATUS, status.size()) != 0)
        return VERIFY_STATUS_READ_FAILED;
    if (status[0] & kChecksumRejectedBit)
        return VERIFY_CHECKSUM_REJECTED;
    return FLASH_OK;
}

int FlashProgrammer::sendCommand(int port, std::uint32_t commandWord)
{
    const std::uint8_t data = kCommandDataByte;
    return link_.WriteDataOnly(port, &data, commandWord, 1, 0);
}

} // namespace fieldkit::flash
