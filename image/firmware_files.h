#pragma once

// Loading the two firmware files of an upgrade into a fresh image, asking the user whether
// to go on when a file reports errors.

#include "core/causes.h"
#include "core/prompts.h"
#include "image/firmware_image.h"
#include "image/srecord_loader.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
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

// One of the two firmware files: where it goes in the image, how the loader reads it, and
// what the user is told when it cannot be processed or reports errors.
struct FirmwareFile {
    const char* name;
    std::size_t imageOffset;
    int bootFileFlag;
    const char* failedText;
    FailureKind failedKind;
    const char* errorsQuestion;
    QuestionKind errorsKind;
};

// The boot code first, then the application, each into the space up to the image's end.
inline constexpr FirmwareFile kFirmwareFiles[] = {
    {kBootFileName, kBootRegionOffset, kBootFileFlag, kBootFileFailed, FailureKind::BootFileUnreadable,
     kBootFileErrorsQuestion, QuestionKind::BootFileErrors},
    {kApplicationFileName, kApplicationRegionOffset, kApplicationFileFlag, kApplicationFileFailed,
     FailureKind::ApplicationFileUnreadable, kApplicationFileErrorsQuestion, QuestionKind::ApplicationFileErrors},
};

// The file's errors question with its name filled in.
std::string errorsQuestion(const FirmwareFile& file);

enum class LoadOutcome { GoOn, Stop };

// What the loader made of one file: where it was read from and the loader's full account,
// with the first faulty line and its cause.
struct LoadedFile {
    const FirmwareFile* file;
    std::filesystem::path path;
    SrecordReadResult read;
};

// Loads corvo_boot.s19 from `directory` into the boot region and then corvo_fwapp.s19 into
// the application region. A file that cannot be processed gets an error box and stops; a
// file with errors gets a question, and anything but Yes stops. Each file read is appended
// to `loaded` (when given) before its box is shown, so a front end can explain the box.
LoadOutcome loadFirmwareFiles(FirmwareImage& image, Prompts& prompts, const std::filesystem::path& directory = ".",
                              std::vector<LoadedFile>* loaded = nullptr);

// The sample firmware of the demo folder carries this in its S0 header. It is made up: written
// to a radio it would leave the radio unusable, so only the emulated board takes it.
inline constexpr std::string_view kSampleFirmwareMark = "FIELDKIT SAMPLE, NEVER FOR A RADIO";

bool isSampleFirmware(const LoadedFile& file);

// For a board that is not the emulated one, the refusal of marked files: the message that
// names them. Nothing when no file is marked or the board is the emulated one.
std::optional<std::string> sampleFirmwareRefusal(const std::vector<LoadedFile>& files, bool emulatedBoard);

} // namespace fieldkit::image
