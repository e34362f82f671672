#pragma once

// Loading the two firmware files of an upgrade into a fresh image, asking the user whether
// to go on when a file reports errors.

#include "core/prompts.h"
#include "image/firmware_image.h"

#include <filesystem>

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

enum class LoadOutcome { GoOn, Stop };

// Loads corvo_boot.s19 from `directory` into the boot region and then corvo_fwapp.s19 into
// the application region. A file that cannot be processed gets an error box and stops; a
// file with errors gets a question, and anything but Yes stops.
LoadOutcome loadFirmwareFiles(FirmwareImage& image, Prompts& prompts, const std::filesystem::path& directory = ".");

} // namespace fieldkit::image
