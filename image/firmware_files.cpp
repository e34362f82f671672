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

LoadOutcome loadFirmwareFiles(FirmwareImage& image, Prompts& prompts, const std::filesystem::path& directory,
                              std::vector<LoadedFile>* loaded)
{
    for (const FirmwareFile& file : kFirmwareFiles) {
        const auto path = directory / file.name;
        const SrecordReadResult read =
            SrecordReadFile(path, image.bytes().subspan(file.imageOffset), file.bootFileFlag);
        if (loaded != nullptr)
            loaded->push_back({&file, path, read});
        if (read.result != kSrecordProcessed) {
            prompts.error(file.failedKind, file.failedText);
            return LoadOutcome::Stop;
        }
        if (read.errors && prompts.question(file.errorsKind, errorsQuestion(file)) != Answer::Yes)
            return LoadOutcome::Stop;
    }
    return LoadOutcome::GoOn;
}

} // namespace fieldkit::image
