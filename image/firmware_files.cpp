#include "image/firmware_files.h"

#include "core/file_digest.h"
#include "image/srecord_loader.h"

#include <cstdio>

namespace fieldkit::image {

std::string errorsQuestion(const FirmwareFile& file)
{
    std::string filled(file.errorsQuestion);
    const auto marker = filled.find("%s");
    if (marker != std::string::npos)
        filled.replace(marker, 2, file.name);
    return filled;
}

std::string conflictQuestion(const FirmwareFile& file, std::uint32_t address)
{
    const int size = std::snprintf(nullptr, 0, file.conflictQuestion, file.name, static_cast<unsigned>(address));
    std::string filled(static_cast<std::size_t>(size), '\0');
    std::snprintf(filled.data(), filled.size() + 1, file.conflictQuestion, file.name, static_cast<unsigned>(address));
    return filled;
}

Sha256 loadedDigest(const FirmwareImage& image, const FirmwareFile& file)
{
    const auto loaded = image.bytes().subspan(file.imageOffset, file.windowSize);
    return sha256Of({reinterpret_cast<const char*>(loaded.data()), loaded.size()});
}

LoadOutcome loadFirmwareFiles(FirmwareImage& image, Prompts& prompts, const std::filesystem::path& directory,
                              std::vector<LoadedFile>* loaded)
{
    for (const FirmwareFile& file : kFirmwareFiles) {
        const auto path = directory / file.name;
        const SrecordReadResult read =
            SrecordReadFile(path, image.bytes().subspan(file.imageOffset), file.bootFileFlag);
        const bool processed = read.result == kSrecordProcessed;
        if (loaded != nullptr)
            loaded->push_back({&file, path, read, processed && loadedDigest(image, file) == file.sampleDigest});
        if (!processed) {
            prompts.error(file.failedKind, file.failedText);
            return LoadOutcome::Stop;
        }
        if (!read.errors)
            continue;
        const Answer answer = read.firstConflict
                                  ? prompts.question(file.conflictKind, conflictQuestion(file, *read.firstConflict))
                                  : prompts.question(file.errorsKind, errorsQuestion(file));
        if (answer != Answer::Yes)
            return LoadOutcome::Stop;
    }
    return LoadOutcome::GoOn;
}

std::optional<std::string> sampleFirmwareRefusal(const std::vector<LoadedFile>& files, bool emulatedBoard)
{
    if (emulatedBoard)
        return std::nullopt;
    std::vector<std::string> names;
    for (const LoadedFile& file : files)
        if (file.sample)
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
