#include "image/srecord_loader.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string_view>
#include <tuple>
#include <system_error>
#include <vector>

namespace fieldkit::image {

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kReadChunkSize = 64 * 1024;
constexpr std::uint8_t kNotHex = 0xFF;

constexpr std::array<std::uint8_t, 256> makeHexTable()
{
    std::array<std::uint8_t, 256> table{};
    table.fill(kNotHex);
    for (int digit = 0; digit < 10; ++digit)
        table['0' + digit] = static_cast<std::uint8_t>(digit);
    for (int digit = 0; digit < 6; ++digit) {
        table['A' + digit] = static_cast<std::uint8_t>(10 + digit);
        table['a' + digit] = static_cast<std::uint8_t>(10 + digit);
    }
    return table;
}
constexpr std::array<std::uint8_t, 256> kHexValue = makeHexTable();

// Address bytes of each record type S0 to S9; 0 marks the reserved S4.
constexpr std::array<std::size_t, 10> kAddressLength{2, 2, 3, 4, 0, 2, 3, 4, 3, 2};

enum class RecordKind { Header, Data, Count, End, Reserved };

constexpr RecordKind kindOf(int type)
{
    switch (type) {
    case 0: return RecordKind::Header;
    case 1:
    case 2:
    case 3: return RecordKind::Data;
    case 5:
    case 6: return RecordKind::Count;
    case 7:
    case 8:
    case 9: return RecordKind::End;
    default: return RecordKind::Reserved;
    }
}

// Checks each record and places the data of the good ones.
class RecordParser {
public:
    RecordParser(std::span<std::uint8_t> destination, AddressWindow window, SrecordReadResult& result)
        : destination_(destination), window_(window), result_(result),
          placeableSize_(std::min(window.size, destination.size())), given_(placeableSize_, false)
    {
    }

    // `text` is the line without the blanks at its end; `endOfFileByte` says a 0x1A followed it.
    void line(std::string_view text, bool endOfFileByte, std::size_t lineNumber);
    void overlongLine(std::size_t lineNumber) { fail(lineNumber, "line longer than any S-record"); }
    void finish();

private:
    void record(std::string_view text, std::size_t lineNumber);
    void place(std::uint32_t address, std::span<const std::uint8_t> payload, std::size_t lineNumber);
    void fail(std::size_t lineNumber, std::string_view why);

    std::span<std::uint8_t> destination_;
    AddressWindow window_;
    SrecordReadResult& result_;
    std::size_t placeableSize_;
    std::vector<bool> given_; // which destination bytes a record of this file has placed
    bool ended_ = false;
    bool closed_ = false; // the last record seen was a count or end record
    bool headerSeen_ = false;
    bool afterEndOfFileByte_ = false;
    std::array<std::uint8_t, 1 + 255> recordBytes_{};
};

void RecordParser::fail(std::size_t lineNumber, std::string_view why)
{
    if (!result_.errors) {
        result_.errors = true;
        result_.firstErrorLine = lineNumber;
        result_.firstError = why;
    }
    ++result_.errorCount;
}

void RecordParser::line(std::string_view text, bool endOfFileByte, std::size_t lineNumber)
{
    // The 0x1A ends the file for the tool that wrote it; a record after it was never meant
    // to be read, or the file was joined from pieces, so either way it is not what it seems.
    if (afterEndOfFileByte_ && (!text.empty() || endOfFileByte))
        return fail(lineNumber, "text after the end-of-file byte 0x1A");
    afterEndOfFileByte_ = endOfFileByte;
    record(text, lineNumber);
}

void RecordParser::record(std::string_view text, std::size_t lineNumber)
{
    if (text.empty())
        return;
    if (text[0] != 'S')
        return fail(lineNumber, "line does not start with S");
    if (text.size() < 4)
        return fail(lineNumber, "record too short");
    if (text[1] < '0' || text[1] > '9')
        return fail(lineNumber, "unknown record type");
    const int type = text[1] - '0';
    const RecordKind kind = kindOf(type);
    if (text.size() % 2 != 0)
        return fail(lineNumber, "odd number of hex digits");

    const std::size_t byteCount = (text.size() - 2) / 2;
    static_assert((kMaxRecordLineLength - 2) / 2 == std::tuple_size_v<decltype(recordBytes_)>);
    unsigned sum = 0;
    for (std::size_t i = 0; i < byteCount; ++i) {
        const std::uint8_t high = kHexValue[static_cast<unsigned char>(text[2 + 2 * i])];
        const std::uint8_t low = kHexValue[static_cast<unsigned char>(text[3 + 2 * i])];
        if (high == kNotHex || low == kNotHex)
            return fail(lineNumber, "character that is not a hex digit");
        recordBytes_[i] = static_cast<std::uint8_t>(high << 4 | low);
        sum += recordBytes_[i];
    }
    // The count byte counts the address, data and checksum bytes that follow it.
    if (recordBytes_[0] != byteCount - 1)
        return fail(lineNumber, "byte count does not match the record length");
    // The checksum is the ones' complement of the low byte of the sum of all bytes before
    // it, so with it included the low byte of the sum is 0xFF.
    if ((sum & 0xFF) != 0xFF)
        return fail(lineNumber, "wrong record checksum");
    const std::size_t addressLength = kAddressLength[static_cast<std::size_t>(type)];
    if (recordBytes_[0] < addressLength + 1)
        return fail(lineNumber, "record too short for its address");
    if (ended_)
        return fail(lineNumber, "record after the end record");

    std::uint32_t address = 0;
    for (std::size_t i = 0; i < addressLength; ++i)
        address = address << 8 | recordBytes_[1 + i];
    const std::span<const std::uint8_t> payload{recordBytes_.data() + 1 + addressLength, byteCount - 2 - addressLength};

    closed_ = kind == RecordKind::Count || kind == RecordKind::End;
    switch (kind) {
    case RecordKind::Header:
        if (!headerSeen_)
            result_.header.assign(payload.begin(), payload.end());
        headerSeen_ = true;
        return;
    case RecordKind::Data: {
        ++result_.dataRecords;
        const std::uint64_t offset = std::uint64_t{address} - window_.firstAddress;
        if (address < window_.firstAddress || offset + payload.size() > placeableSize_)
            return fail(lineNumber, "data outside the address range of this file");
        return place(address, payload, lineNumber);
    }
    case RecordKind::Count:
        if (!payload.empty())
            return fail(lineNumber, "count record with data");
        if (address != result_.dataRecords)
            return fail(lineNumber, "count record disagrees with the number of data records");
        return;
    case RecordKind::End:
        if (!payload.empty())
            return fail(lineNumber, "end record with data");
        ended_ = true;
        return;
    case RecordKind::Reserved: return fail(lineNumber, "unknown record type");
    }
}

void RecordParser::place(std::uint32_t address, std::span<const std::uint8_t> payload, std::size_t lineNumber)
{
    const std::size_t offset = address - window_.firstAddress;
    // Tools repeat records when they merge files; repeating the same bytes is harmless, but a
    // file that gives one address two values says nothing certain about what belongs there.
    for (std::size_t i = 0; i < payload.size(); ++i)
        if (given_[offset + i] && destination_[offset + i] != payload[i]) {
            const std::uint32_t conflict = address + static_cast<std::uint32_t>(i);
            if (!result_.firstConflict)
                result_.firstConflict = conflict;
            std::array<char, 80> why{};
            std::snprintf(why.data(), why.size(), "other bytes for 0x%05X than an earlier record",
                          static_cast<unsigned>(conflict));
            fail(lineNumber, why.data());
            break;
        }
    std::copy(payload.begin(), payload.end(), destination_.begin() + static_cast<std::ptrdiff_t>(offset));
    std::fill_n(given_.begin() + static_cast<std::ptrdiff_t>(offset), payload.size(), true);
    result_.bytesPlaced += payload.size();
}

void RecordParser::finish()
{
    if (result_.dataRecords == 0)
        fail(0, "no data records");
    // A file cut short at a line end still parses; only the missing closing record shows it.
    if (!closed_)
        fail(0, "file does not end with a count or end record");
}

// DOS marked the end of a text file with this byte, and Windows tools still write it.
constexpr char kDosEndOfFile = 0x1A;

constexpr bool isBlank(char c)
{
    return c == ' ' || c == '\t' || c == '\r';
}

// What the gatherer holds back until it knows whether it ends the line.
constexpr std::array<bool, 256> kHeldBack = [] {
    std::array<bool, 256> table{};
    for (const char c : {' ', '\t', '\r', kDosEndOfFile})
        table[static_cast<unsigned char>(c)] = true;
    return table;
}();

// Gathers one line. Editors on Windows end lines with CR LF and pad them with spaces or
// tabs, and may put a DOS end-of-file byte after the last record: blanks at the end of the
// line, and one 0x1A followed only by blanks, are counted instead of kept, so what is kept
// is the record alone and a padded line costs no memory. Blanks or a 0x1A followed by
// anything else belong to the line, and the parser finds it faulty.
class LineGatherer {
public:
    void append(std::string_view piece)
    {
        while (!piece.empty() && !overlong_) {
            // The record's own characters, copied in one go.
            const auto held = std::find_if(piece.begin(), piece.end(),
                                           [](char c) { return kHeldBack[static_cast<unsigned char>(c)]; });
            const auto run = static_cast<std::size_t>(held - piece.begin());
            if (run > 0) {
                keepHeldBack();
                keep(piece.substr(0, run));
                piece.remove_prefix(run);
                continue;
            }
            if (isBlank(piece.front())) {
                ++pendingBlanks_;
            } else if (!endOfFileByte_) {
                endOfFileByte_ = true;
                blanksBeforeEndOfFileByte_ = pendingBlanks_;
                pendingBlanks_ = 0;
            } else {
                keepHeldBack();
                keep(kDosEndOfFile, 1);
            }
            piece.remove_prefix(1);
        }
    }

    bool empty() const { return length_ == 0 && pendingBlanks_ == 0 && !endOfFileByte_ && !overlong_; }
    bool overlong() const { return overlong_; }
    std::string_view text() const { return {buffer_.data(), length_}; }
    bool endOfFileByte() const { return endOfFileByte_; }

    void clear()
    {
        length_ = pendingBlanks_ = blanksBeforeEndOfFileByte_ = 0;
        endOfFileByte_ = overlong_ = false;
    }

private:
    // Blanks and a 0x1A that turn out to stand inside the line belong to it after all.
    // Blanks are kept as spaces: the parser only needs to see that they are not hex digits.
    void keepHeldBack()
    {
        if (endOfFileByte_) {
            keep(' ', blanksBeforeEndOfFileByte_);
            keep(kDosEndOfFile, 1);
            endOfFileByte_ = false;
        }
        keep(' ', pendingBlanks_);
        pendingBlanks_ = 0;
    }

    bool fits(std::size_t count)
    {
        overlong_ = overlong_ || count > buffer_.size() - length_;
        return !overlong_;
    }

    void keep(std::string_view text)
    {
        if (!fits(text.size()))
            return;
        std::copy(text.begin(), text.end(), buffer_.begin() + static_cast<std::ptrdiff_t>(length_));
        length_ += text.size();
    }

    void keep(char c, std::size_t count)
    {
        if (!fits(count))
            return;
        std::fill_n(buffer_.begin() + static_cast<std::ptrdiff_t>(length_), count, c);
        length_ += count;
    }

    std::array<char, kMaxRecordLineLength> buffer_{};
    std::size_t length_ = 0;
    std::size_t pendingBlanks_ = 0;
    std::size_t blanksBeforeEndOfFileByte_ = 0;
    bool endOfFileByte_ = false;
    bool overlong_ = false;
};

SrecordReadResult notProcessed(int result, const char* why)
{
    SrecordReadResult failed;
    failed.result = result;
    failed.errors = true;
    failed.firstError = why;
    return failed;
}

} // namespace

SrecordReadResult readSrecordFile(const fs::path& file, std::span<std::uint8_t> destination, AddressWindow window)
{
    // Only regular files: a device such as /dev/zero would never end, and a directory
    // cannot be read at all.
    std::error_code error;
    const fs::file_status status = fs::status(file, error);
    if (status.type() == fs::file_type::not_found)
        return notProcessed(kSrecordCannotOpen, "file not found");
    if (error)
        return notProcessed(kSrecordCannotOpen, "file cannot be opened");
    if (!fs::is_regular_file(status))
        return notProcessed(kSrecordNotAFile, "not a regular file");

    std::ifstream in(file, std::ios::binary);
    if (!in)
        return notProcessed(kSrecordCannotOpen, "file cannot be opened");

    SrecordReadResult result;
    RecordParser parser(destination, window, result);

    // One line at a time, never more than the longest record.
    LineGatherer line;
    std::size_t lineNumber = 1;
    const auto endLine = [&] {
        if (line.overlong())
            parser.overlongLine(lineNumber);
        else
            parser.line(line.text(), line.endOfFileByte(), lineNumber);
        line.clear();
        ++lineNumber;
    };

    std::vector<char> chunk(kReadChunkSize);
    for (;;) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0)
            break;
        std::string_view rest(chunk.data(), got);
        for (;;) {
            const std::size_t newline = rest.find('\n');
            line.append(rest.substr(0, newline));
            if (newline == std::string_view::npos)
                break;
            endLine();
            rest.remove_prefix(newline + 1);
        }
    }
    if (in.bad())
        return notProcessed(kSrecordReadFailed, "read failed");
    if (!line.empty())
        endLine();
    parser.finish();
    return result;
}

SrecordReadResult SrecordReadFile(const fs::path& file, std::span<std::uint8_t> destination, int bootFileFlag)
{
    switch (bootFileFlag) {
    case kBootFileFlag: return readSrecordFile(file, destination, kBootFileWindow);
    case kApplicationFileFlag: return readSrecordFile(file, destination, kApplicationFileWindow);
    default: return notProcessed(kSrecordBadFileFlag, "unknown file kind");
    }
}

} // namespace fieldkit::image
