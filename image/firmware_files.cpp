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

bool isSampleFirmware(const LoadedFile& file)
{
    return file.read.header.find(kSampleFirmwareMark) != std::string::npos;
}

std::optional<std::string> sampleFirmwareRefusal(const std::vector<LoadedFile>& files, bool emulatedBoard)
{
    if (emulatedBoard)
        return std::nullopt;
    std::vector<std::string> names;
    for (const LoadedFile& file : files)
        if (isSampleFirmware(file))
            names.push_back(file.path.filename().string());
    if (names.empty())
        return std::nullopt;
    const bool one = names.size() == 1;
    std::string list = names.front();
    for (std::size_t i = 1; i < names.size(); ++i)
        list += (i + 1 == names.size() ? " and " : ", ") + names[i];
    return list + (one ? " is" : " are") +
           " sample firmware, made for the emulated board only. Written to a radio, " + (one ? "it" : "they") +
           " would leave the radio unusable.\n\nNothing was written to the board.";
}

} // namespace fieldkit::image
