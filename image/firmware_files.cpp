#include "image/firmware_files.h"

#include "image/srecord_loader.h"

namespace fieldkit::image {

std::string errorsQuestion(const FirmwareFile& file)
{
    std::string filled(file.errorsQuestion);
    const auto marker = filled.find("%s");
    if (marker != std::string::npos)
        filled.replace(marker, 2, file.name);
    return filled;
}

LoadOutcome loadFirmwareFiles(FirmwareImage& image, Prompts& prompts, const std::filesystem::path& directory)
{
    for (const FirmwareFile& file : kFirmwareFiles) {
        const SrecordLoad load =
            loadSrecordFile(directory / file.name, image.bytes().subspan(file.imageOffset), file.bootFileFlag);
        if (load.result != kSrecordProcessed) {
            prompts.error(file.failedText);
            return LoadOutcome::Stop;
        }
        if (load.errors && prompts.question(errorsQuestion(file)) != Answer::Yes)
            return LoadOutcome::Stop;
    }
    return LoadOutcome::GoOn;
}

} // namespace fieldkit::image
