#include "sim/board.h"

#include "sim/flash_file.h"

#include <algorithm>
#include <utility>

namespace fieldkit::sim {
namespace {

std::vector<std::uint8_t> refusedRead(const wire::Request& request)
{
    return wire::encodeDataAnswer(wire::kNak, request, {});
}

// The sequence number `steps` requests before `sequence`.
std::uint8_t sequenceBefore(std::uint8_t sequence, unsigned steps)
{
    return static_cast<std::uint8_t>((sequence - steps) & wire::kSequenceMask);
}

} // namespace

std::uint16_t boardChecksum(std::span<const std::uint8_t> bytes)
{
    std::uint16_t sum = 0;
    for (std::uint8_t byte : bytes)
        sum = static_cast<std::uint16_t>(sum + byte);
    return static_cast<std::uint16_t>(0x10000 - sum);
}

Board::Board(const BoardOptions& options)
    : options_(options), versionAnswer_(options.versionAnswer()), identityBlock_(options.identityBlock()),
      parameterBlock_(options.parameterBlock()),
      flash_(options.flashFile.empty() ? std::vector<std::uint8_t>(kFlashSize, kErasedByte)
                                       : readFlashFile(options.flashFile))
{
}

std::vector<std::uint8_t> Board::handle(const wire::Request& request)
{
    ++counters_.requests;
    switch (request.kind) {
    case wire::FrameKind::Read:
        preparation_.reset();
        return handleRead(request);
    case wire::FrameKind::Ping:
        preparation_.reset();
        return handlePing(request);
    case wire::FrameKind::Write:
        break;
    }
    const bool accepted = execute(request);
    if (!accepted)
        ++counters_.refused;
    return wire::encodeWriteAnswer(accepted ? wire::kAck : wire::kNak, request);
}

std::vector<std::uint8_t> Board::handleRead(const wire::Request& request)
{
    const bool faulted = options_.failReads.contains(request.address) ||
                         options_.failReadLengths.contains({request.address, request.count});
    const auto data = faulted ? std::nullopt : readMemory(request.address, request.count);
    if (!data) {
        ++counters_.refused;
        return refusedRead(request);
    }
    return wire::encodeDataAnswer(wire::kAck, request, *data);
}

std::vector<std::uint8_t> Board::handlePing(const wire::Request& request) const
{
    if (!options_.answerPing)
        return {};
    // The board only speaks to the radio model it is fitted in, at its own bus address.
    const auto ping = wire::decodePingPayload(request.payload);
    if (!ping || ping->radioModel != kAnsweredRadioModel || ping->boardAddress != kBoardBusAddress)
        return {};
    std::vector<std::uint8_t> data(kPingSignature.begin(), kPingSignature.end());
    data.push_back(options_.protocolVersion);
    data.push_back(kBoardBusAddress);
    const auto largestCount = static_cast<std::uint16_t>(
        wire::kMaxCount | (options_.markAsEmulator ? wire::kPingEmulatedBoardFlag : 0));
    data.push_back(static_cast<std::uint8_t>(largestCount & 0xFF));
    data.push_back(static_cast<std::uint8_t>(largestCount >> 8));
    if (options_.protocolVersion == wire::kWindowProtocolVersion) {
        data.push_back(static_cast<std::uint8_t>(options_.receiveBufferBytes & 0xFF));
        data.push_back(static_cast<std::uint8_t>(options_.receiveBufferBytes >> 8));
    }
    return wire::encodeDataAnswer(wire::kAck, request, data);
}

std::optional<std::vector<std::uint8_t>> Board::readMemory(std::uint16_t address, std::size_t count) const
{
    switch (address) {
    case ADDR_ESN:
        if (count != kEsnSize)
            return std::nullopt;
        return std::vector<std::uint8_t>{
            static_cast<std::uint8_t>(options_.esn), static_cast<std::uint8_t>(options_.esn >> 8),
            static_cast<std::uint8_t>(options_.esn >> 16), static_cast<std::uint8_t>(options_.esn >> 24)};
    case ADDR_VERIFY_STATUS:
        if (count != kVerifyStatusSize)
            return std::nullopt;
        return std::vector<std::uint8_t>(verifyStatus_.begin(), verifyStatus_.end());
    case ADDR_FIRMWARE_VERSION:
        if (count != kVersionAnswerSize && count != kVersionShortAnswerSize)
            return std::nullopt;
        return std::vector<std::uint8_t>(versionAnswer_.begin(),
                                         versionAnswer_.begin() + static_cast<std::ptrdiff_t>(count));
    case ADDR_IDENTITY_BLOCK:
        if (count != kIdentityBlockSize)
            return std::nullopt;
        return std::vector<std::uint8_t>(identityBlock_.begin(), identityBlock_.end());
    case ADDR_PARAMETER_BLOCK:
        if (count != kParameterBlockSize)
            return std::nullopt;
        return parameterBlock_;
    default:
        return std::nullopt;
    }
}

bool Board::execute(const wire::Request& request)
{
    const std::uint16_t word = request.address;
    const std::span<const std::uint8_t> data = request.payload;
    // Every request ends the page being prepared, unless it is that page's next write.
    auto prepared = std::exchange(preparation_, std::nullopt);
    if (options_.failCommands.contains(word))
        return false;
    switch (word) {
    case CMD_PROGRAMMING_MODE:
        if (data.size() != kCommandDataSize)
            return false;
        programmingMode_ = true;
        return true;
    case CMD_FINISH:
        if (data.size() != kCommandDataSize)
            return false;
        finish();
        return true;
    default:
        break;
    }

    // Everything else touches the flash, which the board guards until it is told to
    // expect programming.
    if (!programmingMode_)
        return false;
    switch (word) {
    case ADDR_PAGE_DATA:
        return takePageData(data, request.sequence, std::move(prepared));
    case ADDR_PAGE_COMMIT:
        return commitPage(data, request.sequence, prepared);
    case CMD_VERIFY_BOOT:
    case CMD_VERIFY_APP:
        return verify(word, data);
    case CMD_BOOT_COPY:
        return data.size() == kCommandDataSize && copyBootCode();
    default:
        break;
    }
    const auto family = static_cast<std::uint16_t>(word & 0xFF00);
    const auto blockNumber = static_cast<std::uint8_t>(word & 0x00FF);
    if (family == CMD_SELECT_BLOCK)
        return data.size() == kCommandDataSize && selectBlock(blockNumber, request.sequence);
    if (family == CMD_ERASE_BLOCK)
        return data.size() == kCommandDataSize && eraseBlock(blockNumber);
    return false;
}

bool Board::selectBlock(std::uint8_t number, std::uint8_t sequence)
{
    const auto block = flashBlock(number);
    if (!block)
        return false;
    preparation_ = PagePreparation{*block, sequence, std::nullopt};
    return true;
}

// The board takes page data whenever it is programming, but only data that came right after
// its block select can be committed.
bool Board::takePageData(std::span<const std::uint8_t> data, std::uint8_t sequence,
                         std::optional<PagePreparation> prepared)
{
    if (data.size() != kPageSize)
        return false;
    if (prepared && !prepared->dataSequence && prepared->selectSequence == sequenceBefore(sequence, 1)) {
        prepared->dataSequence = sequence;
        std::copy(data.begin(), data.end(), prepared->data.begin());
        preparation_ = std::move(prepared);
    }
    return true;
}

bool Board::eraseBlock(std::uint8_t number)
{
    const auto block = flashBlock(number);
    if (!block)
        return false;
    fill(block->base, kBlockSize, kErasedByte);
    if (block->base == kTemporaryAreaBase)
        bootCodeVerified_ = false;
    ++counters_.blocksErased;
    return true;
}

// A commit programs only the page whose block select and data the board accepted right
// before it, with the two sequence numbers just before its own: a select or data that was
// lost, spoilt or refused leaves nothing to commit, so no page is ever programmed with
// another page's data or twice from one preparation.
bool Board::commitPage(std::span<const std::uint8_t> record, std::uint8_t sequence,
                       const std::optional<PagePreparation>& prepared)
{
    if (record.size() != kCommitRecordSize || !std::equal(kCommitMagic.begin(), kCommitMagic.end(), record.begin()))
        return false;
    if (!prepared || prepared->dataSequence != sequenceBefore(sequence, 1) ||
        prepared->selectSequence != sequenceBefore(sequence, 2))
        return false;
    const std::uint32_t address = record[3] | (record[4] << 8) | (record[5] << 16);
    const FlashBlock& block = prepared->block;
    if (address % kPageSize != 0 || address < block.base || address >= block.base + kBlockSize)
        return false;

    // An injected failure refuses the attempt and programs nothing, as a programming error
    // on the chip would; the host sends the page again.
    auto& failed = failedAttempts_[address];
    if (failed < failingAttemptsAt(address)) {
        ++failed;
        return false;
    }
    failedAttempts_.erase(address);

    // Flash cells can only be cleared by programming; only an erase sets them again.
    for (std::size_t i = 0; i < kPageSize; ++i)
        flash_[address + i] &= prepared->data[i];
    if (address < kTemporaryAreaBase + kBootAreaSize && address >= kTemporaryAreaBase)
        bootCodeVerified_ = false;
    ++counters_.pagesProgrammed;
    return true;
}

unsigned Board::failingAttemptsAt(std::uint32_t pageAddress) const
{
    const auto at = options_.failPageWriteAt.find(pageAddress);
    if (at != options_.failPageWriteAt.end())
        return at->second;
    return options_.failEveryPageWrite.value_or(0);
}

bool Board::verify(std::uint16_t word, std::span<const std::uint8_t> data)
{
    if (data.size() != kVerifyDataSize)
        return false;
    const auto sent = static_cast<std::uint16_t>((data[0] << 8) | data[1]); // high byte first
    const bool boot = word == CMD_VERIFY_BOOT;
    const std::uint16_t actual =
        boot ? checksumOf(kTemporaryAreaBase, kBootAreaSize) : checksumOf(kApplicationAreaBase, kApplicationAreaSize);
    const bool matched =
        sent == actual && !options_.rejectVerify.contains(boot ? VerifyTarget::Boot : VerifyTarget::Application);
    verifyStatus_ = {matched ? std::uint8_t{0x00} : kVerifyRejectedBit, 0x00};
    if (boot)
        bootCodeVerified_ = matched;
    return true;
}

bool Board::copyBootCode()
{
    // The board only moves boot code into place that it has checked, since a bad copy
    // leaves a radio that cannot start.
    if (!bootCodeVerified_)
        return false;
    std::copy_n(flash_.begin() + kTemporaryAreaBase, kBootAreaSize, flash_.begin() + kBootAreaBase);
    // The application is written over the temporary area next, with its blank pages
    // skipped, so the area must read erased afterwards.
    fill(kTemporaryAreaBase, kBootAreaSize, kErasedByte);
    bootCodeVerified_ = false;
    return true;
}

void Board::finish()
{
    programmingMode_ = false;
    bootCodeVerified_ = false;
    failedAttempts_.clear();
    ++counters_.finishes;
    if (options_.dumpFlashFile.empty())
        return;
    std::string error;
    if (!writeFlashFile(options_.dumpFlashFile, flash_, &error)) {
        ++counters_.flashDumpFailures;
        lastDumpError_ = error;
    }
}

std::uint16_t Board::checksumOf(std::uint32_t base, std::uint32_t size) const
{
    return boardChecksum(std::span<const std::uint8_t>(flash_).subspan(base, size));
}

void Board::fill(std::uint32_t base, std::uint32_t size, std::uint8_t value)
{
    std::fill_n(flash_.begin() + base, size, value);
}

} // namespace fieldkit::sim
