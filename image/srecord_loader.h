#pragma once

// Reading the firmware files, which come as S-records, into the firmware image.
//
// What the loader accepts
//   - Records S0 to S9 but S4, one per line; lines end in LF or CR LF, the last one may end
//     without either. Spaces, tabs and CRs at the end of a line are ignored, and so are
//     empty lines: Windows editors leave them. So is one DOS end-of-file byte (0x1A) after
//     the last record, on the record's line or on a line of its own; anything but blanks
//     and line ends after it is an error.
//   - Every record's byte count must match its length and its checksum must be right; only
//     hex digits (either case) follow the "Sn". A line longer than the longest possible
//     record (kMaxRecordLineLength characters) is an error and is skipped unread, so memory
//     stays bounded whatever the file holds.
//   - S1, S2 and S3 carry data at 16-, 24- and 32-bit addresses; S0 is a header whose data
//     places nothing (the first one's is kept as `header`); S5 and S6 count the data records before them and are checked
//     when present; S7, S8 and S9 end the file, and nothing may follow them.
//   - The file's last record must be a count or an end record. Tools write one or both, so
//     a file that lacks them after its last data record has most likely been cut short.
//
// Where the data goes
//   A data byte for address A goes to destination offset A - window.firstAddress, and only
//   when that lies inside the window and inside the destination. A record is placed whole or
//   not at all: a malformed record, or one with any byte outside the window, places nothing.
//   Bytes the file does not give keep what the destination held. A record may give bytes an
//   earlier one gave already: the same bytes are no fault, other bytes contradict the file
//   itself and are an error (the later record's bytes are placed).
//
// Errors flag
//   Set by every malformed record, every record with data outside the window, a count
//   record that disagrees, records after the end record or after a 0x1A, a file without a
//   closing count or end record, a record that gives other bytes than an earlier one for the
//   same address, and a file that is readable but holds no data record at all
//   (an empty file included): such a file is processed, with nothing placed, and the user is asked
//   whether to go on.
//
// Result
//   kSrecordProcessed (0) when the file was read to its end; a negative value when it was
//   not processed: it is missing, cannot be opened (permission), is not a regular file (a
//   directory, a device), or a read failed part way (bytes read before the failure may
//   already be placed). The errors flag is then set as well.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>

namespace fieldkit::image {

// BOOT_FILE_FLAG of SrecordReadFile.
inline constexpr int kBootFileFlag = 1;
inline constexpr int kApplicationFileFlag = 0;

inline constexpr const char* kBootFileName = "corvo_boot.s19";
inline constexpr const char* kApplicationFileName = "corvo_fwapp.s19";

// Where the boot code lies in the board's flash once it has been copied into place.
inline constexpr std::uint32_t kBootFileBaseAddress = 0xFC000;

inline constexpr int kSrecordProcessed = 0;
inline constexpr int kSrecordCannotOpen = -1;  // missing, no permission, bad path
inline constexpr int kSrecordNotAFile = -2;    // a directory, a device, a pipe
inline constexpr int kSrecordReadFailed = -3;  // the system failed a read part way
inline constexpr int kSrecordBadFileFlag = -4; // BOOT_FILE_FLAG neither 0 nor 1

// "S", the type digit, then as hex the count byte and the at most 255 bytes it counts:
// address, data and checksum.
inline constexpr std::size_t kMaxRecordLineLength = 2 + 2 * (1 + 255);

// The flash addresses a file may fill: firstAddress lands at destination offset 0.
struct AddressWindow {
    std::uint32_t firstAddress;
    std::size_t size;
};

// Boot code file: flash 0xFC000 to 0xFFFFF, into a destination at image offset 0x5C000.
inline constexpr AddressWindow kBootFileWindow{kBootFileBaseAddress, 0x4000};
// Application file: the application region only, 0xA0000 to 0xEFFFF, into a destination at
// image offset 0. Nothing above it: bytes there would overwrite the boot code or never
// reach the board, and the progress count would not match what is written.
inline constexpr AddressWindow kApplicationFileWindow{0xA0000, 0x50000};

struct SrecordReadResult {
    int result = kSrecordProcessed;
    bool errors = false;
    std::size_t dataRecords = 0;    // well-formed S1, S2 and S3 records, placed or not
    std::size_t bytesPlaced = 0;    // data bytes written into the destination
    std::size_t errorCount = 0;     // lines and conditions that set the errors flag
    std::size_t firstErrorLine = 0; // 1-based; 0 when the first error belongs to no line
    std::string firstError;         // why the errors flag was first set or the file not read
    std::string header;             // the data of the first well-formed S0 record, as bytes
    // The first flash address for which two records give different bytes.
    std::optional<std::uint32_t> firstConflict;
};

// Reads `file` and places its data through `window` into `destination`.
SrecordReadResult readSrecordFile(const std::filesystem::path& file, std::span<std::uint8_t> destination,
                                  AddressWindow window);

// The loader's own entry point: `bootFileFlag` kBootFileFlag reads through kBootFileWindow,
// kApplicationFileFlag through kApplicationFileWindow; any other value is not processed.
SrecordReadResult SrecordReadFile(const std::filesystem::path& file, std::span<std::uint8_t> destination,
                                  int bootFileFlag);

} // namespace fieldkit::image
