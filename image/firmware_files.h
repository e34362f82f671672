#pragma once

// Loading the two firmware files of an upgrade into a fresh image, asking the user whether
// to go on when a file reports errors.

#include "core/causes.h"
#include "core/prompts.h"
#include "image/firmware_image.h"
#include "image/sample_firmware.h"
#include "image/srecord_loader.h"

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace fieldkit::image {

inline constexpr const char* kBootFileFailed = "Failed to process boot code file";
inline constexpr const char* kApplicationFileFailed = "Failed to process application code file";
// %s stands for the bare file name. The fourth lines differ ("Doing so" and "Writing it").
inline constexpr const char* kBootFileErrorsQuestion =
    "The boot code file (%s) seems to contain errors.\n\nIt is suggested not to write it to the radio.\n"
    "Doing so might render the radio unusable.\n\nWould you like to proceed anyway?";
inline constexpr const char* kApplicationFileErrorsQuestion =
    "The application code file (%s) seems to contain errors.\n\nIt is suggested not to write it to the radio.\n"
    "Writing it might render the radio unusable.\n\nWould you like to proceed anyway?";
// The same questions for a file whose records contradict one another: %s stands for the bare
// file name, %05X for the first flash address that two records give different bytes.
inline constexpr const char* kBootFileConflictQuestion =
    "The boot code file (%s) seems to contain errors.\n\nTwo of its records give different bytes for flash "
    "address 0x%05X.\n\nIt is suggested not to write it to the radio.\n"
    "Doing so might render the radio unusable.\n\nWould you like to proceed anyway?";
inline constexpr const char* kApplicationFileConflictQuestion =
    "The application code file (%s) seems to contain errors.\n\nTwo of its records give different bytes for "
    "flash address 0x%05X.\n\nIt is suggested not to write it to the radio.\n"
    "Writing it might render the radio unusable.\n\nWould you like to proceed anyway?";

using Sha256 = std::array<std::uint8_t, 32>;

// One of the two firmware files: where it goes in the image, how the loader reads it, what
// the user is told when it cannot be processed or reports errors, and the digest of the
// sample file of its kind.
struct FirmwareFile {
    const char* name;
    std::size_t imageOffset;
    int bootFileFlag;
    std::size_t windowSize; // the bytes from imageOffset that the file may fill
    const char* failedText;
    FailureKind failedKind;
    const char* errorsQuestion;
    QuestionKind errorsKind;
    const char* conflictQuestion;
    QuestionKind conflictKind;
    Sha256 sampleDigest;
};

// The boot code first, then the application, each into the space up to the image's end.
inline constexpr FirmwareFile kFirmwareFiles[] = {
    {kBootFileName, kBootRegionOffset, kBootFileFlag, kBootFileWindow.size, kBootFileFailed,
     FailureKind::BootFileUnreadable, kBootFileErrorsQuestion, QuestionKind::BootFileErrors, kBootFileConflictQuestion,
     QuestionKind::BootFileConflict, kSampleBootDigest},
    {kApplicationFileName, kApplicationRegionOffset, kApplicationFileFlag, kApplicationFileWindow.size,
     kApplicationFileFailed, FailureKind::ApplicationFileUnreadable, kApplicationFileErrorsQuestion,
     QuestionKind::ApplicationFileErrors, kApplicationFileConflictQuestion, QuestionKind::ApplicationFileConflict,
     kSampleApplicationDigest},
};

// The file's errors question with its name filled in.
std::string errorsQuestion(const FirmwareFile& file);
// The file's question about records that contradict one another, filled in.
std::string conflictQuestion(const FirmwareFile& file, std::uint32_t address);

// The SHA-256 of what a file placed in its window of the image, with erased bytes (0xFF)
// where it gave nothing: the same whatever its records look like.
Sha256 loadedDigest(const FirmwareImage& image, const FirmwareFile& file);

enum class LoadOutcome { GoOn, Stop };

// What the loader made of one file: where it was read from and the loader's full account,
// with the first faulty line and its cause.
struct LoadedFile {
    const FirmwareFile* file;
    std::filesystem::path path;
    SrecordReadResult read;
    bool sample = false; // its data is that of the demo's sample file of its kind
};

// Loads corvo_boot.s19 from `directory` into the boot region and then corvo_fwapp.s19 into
// the application region of `image`, which must be as created (all 0xFF). A file that cannot
// be processed gets an error box and stops; a file with errors gets a question (the one
// naming the address when two of its records disagree), and anything but Yes stops. Each
// file read is appended to `loaded` (when given) before its box is shown, so a front end can
// explain the box.
LoadOutcome loadFirmwareFiles(FirmwareImage& image, Prompts& prompts, const std::filesystem::path& directory = ".",
                              std::vector<LoadedFile>* loaded = nullptr);

// For a board that is not the emulated one, the refusal of the demo's sample firmware: it is
// made up, and written to a radio it would leave the radio unusable. The samples are known by
// their data (LoadedFile::sample), so no rewrite of their records or headers gets them past.
// The message names the sample files; nothing when there are none or the board is the
// emulated one.
std::optional<std::string> sampleFirmwareRefusal(const std::vector<LoadedFile>& files, bool emulatedBoard);

} // namespace fieldkit::image
