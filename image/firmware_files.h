#pragma once

// Loading the two firmware files of an upgrade into a fresh image, asking the user whether
// to go on when a file reports errors.

#include "core/prompts.h"
#include "image/firmware_image.h"
#include "image/srecord_loader.h"

#include <filesystem>
#include <string>

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

// One of the two firmware files: where it goes in the image, how the loader reads it, and
// what the user is told when it cannot be processed or reports errors.
struct FirmwareFile {
    const char* name;
    std::size_t imageOffset;
    int bootFileFlag;
    const char* failedText;
    const char* errorsQuestion;
};

// The boot code first, then the application, each into the space up to the image's end.
inline constexpr FirmwareFile kFirmwareFiles[] = {
    {kBootFileName, kBootRegionOffset, kBootFileFlag, kBootFileFailed, kBootFileErrorsQuestion},
    {kApplicationFileName, kApplicationRegionOffset, kApplicationFileFlag, kApplicationFileFailed,
     kApplicationFileErrorsQuestion},
};

// The file's errors question with its name filled in.
std::string errorsQuestion(const FirmwareFile& file);

enum class LoadOutcome { GoOn, Stop };

// Loads corvo_boot.s19 from `directory` into the boot region and then corvo_fwapp.s19 into
// the application region. A file that cannot be processed gets an error box and stops; a
// file with errors gets a question, and anything but Yes stops.
LoadOutcome loadFirmwareFiles(FirmwareImage& image, Prompts& prompts, const std::filesystem::path& directory = ".");

} // namespace fieldkit::image
