#include "image/firmware_files.h"

#include "image/srecord_loader.h"

#include <string>
#include <string_view>

namespace fieldkit::image {

namespace {

std::string withFileName(std::string_view text, std::string_view fileName)
{
    std::string filled(text);
    const auto marker = filled.find("%s");
    if (marker != std::string::npos)
        filled.replace(marker, 2, fileName);
    return filled;
}

struct FirmwareFile {
    const char* name;
    std::size_t imageOffset;
    int bootFileFlag;
    const char* failedText;
    const char* errorsQuestion;
};

// The boot code first, then the application, each into the space up to the image's end.
constexpr FirmwareFile kFirmwareFiles[] = {
    {kBootFileName, kBootRegionOffset, kBootFileFlag, kBootFileFailed, kBootFileErrorsQuestion},
    {kApplicationFileName, kApplicationRegionOffset, kApplicationFileFlag, kApplicationFileFailed,
     kApplicationFileErrorsQuestion},
};

} // namespace

LoadOutcome loadFirmwareFiles(FirmwareImage& image, Prompts& prompts, const std::filesystem::path& directory)
{
    for (const FirmwareFile& file : kFirmwareFiles) {
        const SrecordLoad load =
            loadSrecordFile(directory / file.name, image.bytes().subspan(file.imageOffset), file.bootFileFlag);
        if (load.result != kSrecordProcessed) {
            prompts.error(file.failedText);
            return LoadOutcome::Stop;
        }
        if (load.errors && prompts.question(withFileName(file.errorsQuestion, file.name)) != Answer::Yes)
            return LoadOutcome::Stop;
    }
    return LoadOutcome::GoOn;
}

} // namespace fieldkit::image
