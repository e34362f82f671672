#include "sim/board_options.h"

#include "core/numbers.h"
#include "wire/protocol.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <sstream>
#include <stdexcept>
#include <string_view>

namespace fieldkit::sim {
namespace {

inline constexpr std::uint8_t kParameterPatternStart = 0x80;
inline constexpr std::uint32_t kMaxBaud = 4000000;
inline constexpr std::uint32_t kMaxLatencyMs = 60000;
inline constexpr std::uint32_t kMaxFailingAttempts = 1000000;

[[noreturn]] void fail(std::string_view option, const std::string& reason)
{
    throw CLI::ValidationError(std::string(option), reason);
}

std::string hexText(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

// A number by the shared rules (decimal or 0x hex, nothing around it) within min to max.
std::uint64_t parseNumber(std::string_view option, std::string_view text, std::uint64_t min, std::uint64_t max)
{
    const auto value = fieldkit::parseNumber(text);
    if (!value)
        fail(option, "expected a number (decimal or 0x hex) up to " + hexText(UINT64_MAX) + ", got \"" +
                         std::string(text) + "\"");
    if (*value < min || *value > max)
        fail(option, std::string(text) + " is out of range (" + std::to_string(min) + " to " + hexText(max) + ")");
    return *value;
}

// At least one byte by the shared rules for hex bytes: "0A0B", "0a:0b", "0A 0B".
std::vector<std::uint8_t> parseHexBytes(std::string_view option, std::string_view text, std::size_t maxBytes)
{
    const auto bytes = fieldkit::parseHexBytes(text);
    if (!bytes || bytes->empty())
        fail(option, "expected whole hex bytes (two digits each, optionally separated by spaces, colons or dashes) "
                     "such as 0A0B0C or 0a:0b:0c, got \"" + std::string(text) + "\"");
    if (bytes->size() > maxBytes)
        fail(option, "at most " + std::to_string(maxBytes) + " bytes, got " + std::to_string(bytes->size()));
    return *bytes;
}

std::uint16_t parseBoardAddress(std::string_view option, std::string_view text)
{
    return static_cast<std::uint16_t>(parseNumber(option, text, 0, 0xFFFF));
}

std::pair<std::uint16_t, std::size_t> parseReadLength(std::string_view option, std::string_view text)
{
    const auto colon = text.find(':');
    if (colon == std::string_view::npos)
        fail(option, "expected ADDR:LEN such as 0x0D00:15, got \"" + std::string(text) + "\"");
    return {parseBoardAddress(option, text.substr(0, colon)),
            static_cast<std::size_t>(parseNumber(option, text.substr(colon + 1), 1, wire::kMaxCount))};
}

void parsePageWriteFault(std::string_view option, std::string_view text, BoardOptions& options)
{
    const auto at = text.find('@');
    const auto attempts = static_cast<unsigned>(parseNumber(option, text.substr(0, at), 1, kMaxFailingAttempts));
    if (at == std::string_view::npos) {
        options.failEveryPageWrite = attempts;
        return;
    }
    const auto address = parseNumber(option, text.substr(at + 1), 0, kFlashSize - kPageSize);
    if (address % kPageSize != 0)
        fail(option, "the page address must be a multiple of 256, got \"" + std::string(text.substr(at + 1)) + "\"");
    options.failPageWriteAt[static_cast<std::uint32_t>(address)] = attempts;
}

VerifyTarget parseVerifyTarget(std::string_view option, std::string_view text)
{
    if (text == "boot")
        return VerifyTarget::Boot;
    if (text == "app")
        return VerifyTarget::Application;
    fail(option, "expected boot or app, got \"" + std::string(text) + "\"");
}

// An option that takes one number; `store` receives it once it is known to be in range.
template <typename Store>
void addNumber(CLI::App& app, const std::string& name, const std::string& typeName, const std::string& description,
               std::uint64_t min, std::uint64_t max, Store store)
{
    app.add_option_function<std::string>(
           name, [name, min, max, store](const std::string& value) { store(parseNumber(name, value, min, max)); },
           description)
        ->type_name(typeName);
}

template <typename Store>
CLI::Option* addHex(CLI::App& app, const std::string& name, const std::string& description, std::size_t maxBytes,
                    Store store)
{
    return app
        .add_option_function<std::string>(
            name, [name, maxBytes, store](const std::string& value) { store(parseHexBytes(name, value, maxBytes)); },
            description)
        ->type_name("HEX");
}

// An option that may be given several times, each value parsed on its own.
template <typename Parse>
void addRepeatable(CLI::App& app, const std::string& name, const std::string& typeName, const std::string& description,
                   Parse parse)
{
    app.add_option_function<std::vector<std::string>>(
           name,
           [name, parse](const std::vector<std::string>& values) {
               for (const std::string& value : values)
                   parse(name, value);
           },
           description)
        ->type_name(typeName)
        ->allow_extra_args(false);
}

std::vector<std::uint8_t> padded(const std::vector<std::uint8_t>& bytes, std::size_t size)
{
    std::vector<std::uint8_t> result(size, 0x00);
    std::copy_n(bytes.begin(), std::min(bytes.size(), size), result.begin());
    return result;
}

} // namespace

std::array<std::uint8_t, kVersionAnswerSize> BoardOptions::versionAnswer() const
{
    const std::vector<std::uint8_t> raw =
        versionHex ? *versionHex : std::vector<std::uint8_t>(versionText.begin(), versionText.end());
    std::array<std::uint8_t, kVersionAnswerSize> answer{};
    std::copy_n(raw.begin(), std::min(raw.size(), answer.size()), answer.begin());
    return answer;
}

std::array<std::uint8_t, kIdentityBlockSize> BoardOptions::identityBlock() const
{
    std::array<std::uint8_t, kIdentityBlockSize> block{};
    std::uint32_t edge = kDefaultBandEdgeHz;
    std::uint8_t flag = kDefaultVariantFlag;
    if (identityHex) {
        std::copy_n(identityHex->begin(), std::min(identityHex->size(), block.size()), block.begin());
        flag = block[kIdentityVariantFlagOffset];
        edge = 0;
        for (std::size_t i = 0; i < 4; ++i)
            edge = (edge << 8) | block[kIdentityBandEdgeOffset + i];
    }
    edge = bandEdgeHz.value_or(edge);
    flag = variantFlag.value_or(flag);
    block[kIdentityVariantFlagOffset] = flag;
    for (std::size_t i = 0; i < 4; ++i) // most significant byte first
        block[kIdentityBandEdgeOffset + i] = static_cast<std::uint8_t>(edge >> (24 - 8 * i));
    return block;
}

std::vector<std::uint8_t> BoardOptions::parameterBlock() const
{
    if (parameterBlockHex)
        return padded(*parameterBlockHex, kParameterBlockSize);
    std::vector<std::uint8_t> block(kParameterBlockSize);
    for (std::size_t i = 0; i < kEsnSize; ++i) {
        block[i] = static_cast<std::uint8_t>(esn >> (8 * i));
        block[kEsnSize + i] = static_cast<std::uint8_t>(~esn >> (8 * i));
    }
    for (std::size_t i = 2 * kEsnSize; i < block.size(); ++i)
        block[i] = static_cast<std::uint8_t>(kParameterPatternStart + i);
    return block;
}

void addBoardOptions(CLI::App& app, BoardOptions& options)
{
    constexpr std::uint64_t max32 = std::numeric_limits<std::uint32_t>::max();
    constexpr std::uint64_t max64 = std::numeric_limits<std::uint64_t>::max();

    auto* link = app.add_option("--link", options.linkPath,
                                "serve the board on a new pseudo-terminal and make PATH a symbolic link to it")
                     ->type_name("PATH");
    auto* device = app.add_option("--device", options.devicePath, "serve the board on this serial device instead")
                       ->type_name("PATH");
    link->excludes(device);

    addNumber(app, "--esn", "N", "electronic serial number (default " + hexText(kDefaultEsn) + ")", 0, max32,
              [&options](std::uint64_t n) { options.esn = static_cast<std::uint32_t>(n); });
    auto* version =
        app.add_option_function<std::string>(
               "--version",
               [&options](const std::string& v) {
                   if (v.size() > kVersionAnswerSize)
                       fail("--version", "at most 15 characters, got " + std::to_string(v.size()));
                   options.versionText = v;
               },
               std::string("firmware version text, NUL-padded to 15 bytes (default ") + kDefaultVersionText + ")")
            ->type_name("TEXT");
    auto* versionHex =
        addHex(app, "--version-hex", "the raw version answer, up to 15 bytes, zero-padded", kVersionAnswerSize,
               [&options](std::vector<std::uint8_t> bytes) { options.versionHex = std::move(bytes); });
    version->excludes(versionHex);
    addNumber(app, "--band-edge", "HZ",
              "band-edge frequency in identity bytes 3-6 (default " + std::to_string(kDefaultBandEdgeHz) + ")", 0,
              max32, [&options](std::uint64_t n) { options.bandEdgeHz = static_cast<std::uint32_t>(n); });
    addNumber(app, "--variant-flag", "N", "variant flag in identity byte 2 (default 0)", 0, 0xFF,
              [&options](std::uint64_t n) { options.variantFlag = static_cast<std::uint8_t>(n); });
    addHex(app, "--identity-hex",
           "the whole 23-byte identity block, zero-padded; --band-edge and --variant-flag still apply",
           kIdentityBlockSize, [&options](std::vector<std::uint8_t> bytes) { options.identityHex = std::move(bytes); });
    addHex(app, "--param-block", "the 52-byte parameter block, zero-padded (default: the ESN, its complement, a pattern)", kParameterBlockSize,
           [&options](std::vector<std::uint8_t> bytes) { options.parameterBlockHex = std::move(bytes); });
    app.add_flag_callback(
        "--no-ping", [&options] { options.answerPing = false; },
        "never answer a ping (board off, or radio in the wrong zone)");
    app.add_flag_callback(
        "--real-board", [&options] { options.markAsEmulator = false; },
        "answer the ping as a real board does, without the emulator's mark (sample firmware is then refused)");
    addNumber(app, "--protocol", "N",
              "protocol version: 2 says the receive buffer in the ping answer, so the host keeps several requests "
              "on the line (default); 1 is a board that takes one request at a time",
              wire::kProtocolVersion, wire::kWindowProtocolVersion,
              [&options](std::uint64_t n) { options.protocolVersion = static_cast<std::uint8_t>(n); });
    addNumber(app, "--receive-buffer", "BYTES",
              "bytes of requests the board holds until it has answered them; more are lost (default " +
                  std::to_string(kDefaultReceiveBuffer) + ")",
              1, kLargestReceiveBuffer, [&options](std::uint64_t n) { options.receiveBufferBytes = n; });

    addRepeatable(app, "--fail-read", "ADDR", "every read at this board address is refused",
                  [&options](const std::string& name, const std::string& v) {
                      options.failReads.insert(parseBoardAddress(name, v));
                  });
    addRepeatable(app, "--fail-read-len", "ADDR:LEN", "reads of this length at this address are refused",
                  [&options](const std::string& name, const std::string& v) {
                      options.failReadLengths.insert(parseReadLength(name, v));
                  });
    addRepeatable(app, "--fail-page-writes", "N[@ADDR]",
                  "each page write (or the one at flash address ADDR) fails its first N attempts",
                  [&options](const std::string& name, const std::string& v) { parsePageWriteFault(name, v, options); });
    addRepeatable(app, "--fail-command", "WORD", "writes to this command word are refused",
                  [&options](const std::string& name, const std::string& v) {
                      options.failCommands.insert(parseBoardAddress(name, v));
                  });
    addRepeatable(app, "--reject-verify", "boot|app", "that checksum verification always reports a mismatch",
                  [&options](const std::string& name, const std::string& v) {
                      options.rejectVerify.insert(parseVerifyTarget(name, v));
                  });

    addNumber(app, "--noise", "N", "corrupt one byte in N on the line, both ways", 1, max32,
              [&options](std::uint64_t n) { options.noiseOneIn = static_cast<unsigned>(n); });
    addNumber(app, "--drop", "N", "lose one byte in N on the line, both ways", 1, max32,
              [&options](std::uint64_t n) { options.dropOneIn = static_cast<unsigned>(n); });
    addNumber(app, "--dead-after", "BYTES", "the line goes silent, both ways, after this many bytes received", 0, max64,
              [&options](std::uint64_t n) { options.deadAfterBytes = n; });
    addNumber(app, "--baud", "RATE", "pace the line as a port at this rate would (10 bits a byte)", 1, kMaxBaud,
              [&options](std::uint64_t n) { options.baud = static_cast<unsigned>(n); });
    addNumber(app, "--latency", "MS",
              "latency timer of the host's USB adapter: answers are held until it runs out or a packet fills", 0,
              kMaxLatencyMs,
              [&options](std::uint64_t n) { options.latency = std::chrono::milliseconds(n); });
    addNumber(app, "--seed", "N", "seed of the line-fault generator (default " + std::to_string(kDefaultSeed) + ")", 0,
              max32, [&options](std::uint64_t n) { options.seed = static_cast<std::uint32_t>(n); });
    app.add_option("--flash", options.flashFile, "start with this 1 MiB flash content")->type_name("FILE");
    app.add_option("--dump-flash", options.dumpFlashFile,
                   "write the whole flash here after every finish command and at exit")
        ->type_name("FILE");
    app.add_option("--request-log", options.requestLogFile,
                   "write a line for every request received, with the board's answer, to this file")
        ->type_name("FILE");
}

std::vector<std::string> splitOptionWords(const std::vector<std::string>& values)
{
    std::vector<std::string> words;
    for (const auto& value : values) {
        std::istringstream split(value);
        for (std::string word; split >> word;)
            words.push_back(word);
    }
    return words;
}

BoardOptions parseBoardOptions(const std::vector<std::string>& args)
{
    BoardOptions options;
    CLI::App app{"Lodestar option board emulator", "lodestar-sim"};
    addBoardOptions(app, options);
    std::vector<std::string> reversed(args.rbegin(), args.rend());
    try {
        app.parse(reversed);
    } catch (const CLI::CallForHelp&) {
        throw BadBoardOptions("--help: the board options are listed by lodestar-sim --help", app.help());
    } catch (const CLI::ParseError& error) {
        throw BadBoardOptions(error.what(), app.help());
    }
    return options;
}

} // namespace fieldkit::sim
