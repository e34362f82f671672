#include "cli/image_command.h"

#include "cli/exit_status.h"
#include "session/hints.h"
#include "cli/numbers.h"
#include "cli/terminal_prompts.h"
#include "core/atomic_file.h"
#include "core/path_text.h"
#include "flash/flash_programmer.h"
#include "image/config_block.h"
#include "image/firmware_files.h"
#include "image/firmware_image.h"
#include "image/parameter_trailer.h"
#include "link/board_connection.h"

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace fieldkit::cli {

namespace {

constexpr std::uint64_t kLargestU32 = 0xFFFFFFFF;
constexpr std::uint64_t kLargestU8 = 0xFF;

struct ImageOptions {
    std::string outFile;
    std::string bandEdge;    // empty: the identity block could not be read
    std::string variantFlag; // byte 2 of the identity block
    std::string parameterBlock;
    std::string esn = "0";
    bool assumeYes = false;
    bool force = false;
};

// What the identity block read yields: band x 2 + variant bit, or 0 when it failed.
std::uint8_t configVariantOf(const ImageOptions& options)
{
    if (options.bandEdge.empty())
        return 0;
    const int band = link::bandFromEdgeFrequency(static_cast<std::uint32_t>(*parseNumber(options.bandEdge)));
    const int variantBit = !options.variantFlag.empty() && *parseNumber(options.variantFlag) != 0 ? 1 : 0;
    return static_cast<std::uint8_t>(band * 2 + variantBit);
}

std::string hex16(std::uint16_t value)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%04X", value);
    return text;
}

// The image in the order of an upgrade: files, configuration block, header and complement
// page, then the parameter trailer.
int runImageCommand(const ImageOptions& options)
{
    TerminalPrompts prompts(std::cin, std::cerr, answerPolicy(options.assumeYes, options.force));
    std::vector<image::LoadedFile> loaded;
    prompts.setHints([&loaded](const Cause& cause) { return session::firmwareFileHint(cause, loaded); });
    const auto image = std::make_unique<image::FirmwareImage>();
    if (image::loadFirmwareFiles(*image, prompts, ".", &loaded) != image::LoadOutcome::GoOn)
        return prompts.declined() ? kExitDeclined : kExitFailed;

    const std::uint8_t configVariant = configVariantOf(options);
    image::writeDefaultConfigBlock(configVariant, image::kUpgradeConfigSlot, *image, image::kUpgradeConfigSlotBase);
    image::writeImageHeader(*image);

    image::BoardParameterTrailer trailer;
    if (!options.parameterBlock.empty())
        trailer.takeParameterBlock(*parseHexBytes(options.parameterBlock));
    else
        trailer.fillFromEsn(static_cast<std::uint32_t>(*parseNumber(options.esn)));
    trailer.storeInImage(*image);

    std::string why;
    if (!replaceFile(pathFromText(options.outFile), image->bytes(), Durability::OnDisk, &why)) {
        std::cerr << "fieldkit-cli image: " << why << '\n';
        return kExitFailed;
    }

    const auto bytes = image->bytes();
    std::cout << "configVariant: " << int{configVariant} << '\n'
              << "header checksum: " << hex16(image::headerChecksum(*image)) << '\n'
              << "boot checksum: " << hex16(image::imageChecksum(image->region(image::BootRegion))) << '\n'
              << "application checksum: " << hex16(image::imageChecksum(image->region(image::ApplicationRegion)))
              << '\n'
              << "non-blank pages: " << flash::countNonBlankPages(bytes) << '\n';
    return kExitDone;
}

} // namespace

void addImageCommand(CLI::App& app, int& exitStatus)
{
    auto options = std::make_shared<ImageOptions>();
    CLI::App* command = app.add_subcommand(
        "image", "Build the flash image an upgrade would write, from corvo_boot.s19 and corvo_fwapp.s19 in the "
                 "current directory, for a board of the given identity");
    command->add_option("--out", options->outFile, "File to write the 0x60000 image bytes to")
        ->type_name("FILE")
        ->required();
    CLI::Option* bandEdge =
        command
            ->add_option("--band-edge", options->bandEdge,
                         "Band-edge frequency in Hz from the board's identity block; without it the block "
                         "counts as unreadable (configVariant 0)")
            ->type_name("HZ")
            ->check(numberUpTo(kLargestU32));
    command
        ->add_option("--variant-flag", options->variantFlag,
                     "Byte 2 of the identity block; non-zero sets the variant bit")
        ->type_name("N")
        ->check(numberUpTo(kLargestU8))
        ->needs(bandEdge);
    CLI::Option* parameterBlock = command
                                      ->add_option("--param-block", options->parameterBlock,
                                                   "The board's parameter block as hex, at least 24 bytes")
                                      ->type_name("HEX")
                                      ->check(hexBytesAtLeast(image::kTrailerParameterBytes));
    command->add_option("--esn", options->esn, "ESN for the trailer when there is no parameter block (default 0)")
        ->type_name("N")
        ->check(numberUpTo(kLargestU32))
        ->excludes(parameterBlock);
    addAnswerOptions(*command, options->assumeYes, options->force);
    command->callback([options, &exitStatus] { exitStatus = runImageCommand(*options); });
}

} // namespace fieldkit::cli
