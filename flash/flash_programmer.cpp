#include "flash/flash_programmer.h"

#include <algorithm>
#include <deque>

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

namespace {

// One of the three writes that program a page.
struct PageWrite {
    std::uint32_t address;
    std::span<const std::uint8_t> data;
};

inline constexpr int kWritesPerPage = 3;
inline constexpr std::size_t kCommitRecordSize = 6;

std::array<std::uint8_t, kCommitRecordSize> commitRecord(std::uint32_t pageAddress)
{
    return {kPageCommitMarker[0],
            kPageCommitMarker[1],
            kPageCommitMarker[2],
            static_cast<std::uint8_t>(pageAddress & 0xFF),
            static_cast<std::uint8_t>((pageAddress >> 8) & 0xFF),
            static_cast<std::uint8_t>((pageAddress >> 16) & 0xFF)};
}

// The page's writes in order: the block select, the 256 data bytes, the commit record.
// `commit` holds the record for as long as the writes are used.
std::array<PageWrite, kWritesPerPage> pageWrites(std::span<const std::uint8_t, kPageSize> page,
                                                 std::uint32_t pageAddress,
                                                 std::array<std::uint8_t, kCommitRecordSize>& commit)
{
    static constexpr std::uint8_t selectData = kCommandDataByte;
    commit = commitRecord(pageAddress);
    return {{{blockSelectWord(pageAddress), std::span(&selectData, 1)},
             {ADDR_PAGE_DATA, page},
             {ADDR_PAGE_COMMIT, commit}}};
}

// A region's pages streamed through a write window. The writes go out as far as the window
// takes them; a page counts as written once its three answers are acknowledgements. When an
// answer is anything else, nothing more is sent until every answer due has come in (the pages
// behind it on the line are settled, written or not); then each failed attempt costs its
// pause and its page is sent again, ahead of the pages not yet sent, up to three attempts.
class RegionStream {
public:
    RegionStream(link::WriteWindow& window, std::span<const std::uint8_t> data, std::uint32_t address, Clock& clock,
                 const UpgradeStop* stop, UpgradeNotices* notices, std::uint32_t& pagesWritten)
        : window_(window), data_(data), address_(address), clock_(clock), stop_(stop), notices_(notices),
          pagesWritten_(pagesWritten)
    {
    }

    int run()
    {
        for (;;) {
            if (!settling())
                sendWhatFits();
            if (window_.answersDue() != 0) {
                takeAnswer();
                continue;
            }
            if (!settling() && workLeft())
                continue;
            if (const int result = closeRound(); result != FLASH_OK)
                return result;
            if (stopping_)
                return REGION_STOPPED;
            if (!workLeft())
                return FLASH_OK;
        }
    }

private:
    struct Attempt {
        std::size_t offset;     // of the page in the region
        int earlierFailures;    // attempts of this page that failed before this one
        int sent = 0;           // of its three writes
        int acknowledged = 0;
        bool failed = false;
    };

    bool settling() const { return failedThisRound_ || stopping_; }
    bool workLeft() { return current_ != nullptr || !again_.empty() || nextNewPage() < data_.size(); }

    // The offset of the next page never sent that holds anything but 0xFF, or the region's size.
    std::size_t nextNewPage()
    {
        while (nextOffset_ < data_.size() && isBlank(pageAt(nextOffset_)))
            nextOffset_ += kPageSize;
        return std::min(nextOffset_, data_.size());
    }

    // A last page shorter than 256 bytes is sent with its missing tail as 0xFF, which leaves
    // the erased flash behind it as it was; nothing outside the region is read.
    std::array<std::uint8_t, kPageSize> pageAt(std::size_t offset) const
    {
        std::array<std::uint8_t, kPageSize> page;
        page.fill(0xFF);
        const auto given = data_.subspan(offset, std::min<std::size_t>(kPageSize, data_.size() - offset));
        std::copy(given.begin(), given.end(), page.begin());
        return page;
    }

    // A requested stop ends the region between two pages: it is looked at before a page's
    // first write, never inside a page.
    Attempt* startAttempt()
    {
        if (stop_ != nullptr && stop_->requested()) {
            stopping_ = true;
            return nullptr;
        }
        if (!again_.empty()) {
            round_.push_back(again_.front());
            again_.pop_front();
        } else if (const std::size_t offset = nextNewPage(); offset < data_.size()) {
            round_.push_back({offset, 0});
            nextOffset_ = offset + kPageSize;
        } else {
            return nullptr;
        }
        return &round_.back();
    }

    void sendWhatFits()
    {
        for (;;) {
            if (current_ == nullptr && (current_ = startAttempt()) == nullptr)
                return;
            const auto page = pageAt(current_->offset);
            std::array<std::uint8_t, kCommitRecordSize> commit;
            const PageWrite write =
                pageWrites(page, static_cast<std::uint32_t>(address_ + current_->offset), commit)[current_->sent];
            const auto count = static_cast<std::uint32_t>(write.data.size());
            if (!window_.hasRoomFor(count))
                return;
            if (window_.send(write.data.data(), write.address, count) != link::LINK_OK) {
                current_->failed = true;
                failedThisRound_ = true;
                current_ = nullptr;
                return;
            }
            due_.push_back(current_);
            if (++current_->sent == kWritesPerPage)
                current_ = nullptr;
        }
    }

    void takeAnswer()
    {
        Attempt& attempt = *due_.front();
        due_.pop_front();
        const bool acknowledged = window_.nextAnswer() == link::LINK_OK;
        if (!acknowledged) {
            attempt.failed = true;
            failedThisRound_ = true;
            if (current_ == &attempt)
                current_ = nullptr; // the rest of a failed attempt is not sent
            return;
        }
        if (!attempt.failed && ++attempt.acknowledged == kWritesPerPage) {
            ++pagesWritten_;
            if (notices_)
                notices_->pageDone();
        }
    }

    // Everything sent is answered. Each failed attempt costs its pause and sends its page
    // again; a page whose writes the round cut short goes again without costing an attempt.
    int closeRound()
    {
        int result = FLASH_OK;
        for (const Attempt& attempt : round_) {
            if (attempt.acknowledged == kWritesPerPage)
                continue;
            if (!attempt.failed) {
                again_.push_back({attempt.offset, attempt.earlierFailures});
                continue;
            }
            clock_.sleep(kFailedPageWritePause);
            if (attempt.earlierFailures + 1 >= kPageWriteTries)
                result = REGION_PAGE_FAILED;
            else
                again_.push_back({attempt.offset, attempt.earlierFailures + 1});
        }
        std::sort(again_.begin(), again_.end(),
                  [](const Attempt& a, const Attempt& b) { return a.offset < b.offset; });
        round_.clear();
        current_ = nullptr;
        failedThisRound_ = false;
        return result;
    }

    link::WriteWindow& window_;
    std::span<const std::uint8_t> data_;
    std::uint32_t address_;
    Clock& clock_;
    const UpgradeStop* stop_;
    UpgradeNotices* notices_;
    std::uint32_t& pagesWritten_;

    std::size_t nextOffset_ = 0;
    std::deque<Attempt> again_;  // pages to send before any new one, in page order
    std::deque<Attempt> round_;  // attempts started since the line was last settled
    std::deque<Attempt*> due_;   // the attempt each answer still due belongs to, in order
    Attempt* current_ = nullptr; // the attempt whose writes are going out
    bool failedThisRound_ = false;
    bool stopping_ = false;
};

} // namespace

int FlashProgrammer::writePage(int port, std::span<const std::uint8_t, kPageSize> page, std::uint32_t address)
{
    static constexpr std::array<int, kWritesPerPage> failures{PAGE_SELECT_FAILED, PAGE_DATA_FAILED,
                                                              PAGE_COMMIT_FAILED};
    std::array<std::uint8_t, kCommitRecordSize> commit;
    const auto writes = pageWrites(page, address, commit);
    for (int step = 0; step < kWritesPerPage; ++step) {
        const PageWrite& write = writes[static_cast<std::size_t>(step)];
        if (link_.WriteDataOnly(port, write.data.data(), write.address, static_cast<std::uint32_t>(write.data.size()),
                                0) != 0)
            return failures[static_cast<std::size_t>(step)];
    }
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
    const auto window = link_.openWriteWindow(port);
    return RegionStream(*window, data, address, clock_, stop_, notifyWindow, pagesWritten_).run();
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
