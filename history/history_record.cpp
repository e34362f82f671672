#include "history/history_record.h"

#include "core/com_port.h"

#include "core/file_digest.h"
#include "history/history_platform.h"
#include "settings/port_devices.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace fieldkit::history {
namespace {

std::string answerKey(Answer answer)
{
    return answer == Answer::Yes ? "yes" : "no";
}

Record filesOf(const flash::UpgradeReport& report)
{
    Record files = Record::array();
    for (const auto& loaded : report.files) {
        Record file;
        file["name"] = loaded.path.filename().string();
        const auto digest = digestOfFile(loaded.path);
        file["size"] = digest ? Record(digest->size) : Record();
        file["sha256"] = digest ? Record(digest->sha256) : Record();
        files.push_back(std::move(file));
    }
    return files;
}

Record questionsOf(const flash::UpgradeReport& report)
{
    Record questions = Record::array();
    for (const auto& asked : report.questions)
        questions.push_back({{"kind", std::string(keyOf(asked.kind))}, {"answer", answerKey(asked.answer)}});
    return questions;
}

// 8-4-4-4-12 hex digits, with the version in the high nibble of byte 6 and the RFC variant.
std::string uuidText(std::span<std::uint8_t, 16> bytes, unsigned version)
{
    bytes[6] = static_cast<std::uint8_t>((bytes[6] & 0x0F) | (version << 4));
    bytes[8] = static_cast<std::uint8_t>((bytes[8] & 0x3F) | 0x80);
    constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10)
            text += '-';
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
    return text;
}

bool isUuidText(const std::string& text)
{
    if (text.size() != 36)
        return false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash ? text[i] != '-' : !std::isxdigit(static_cast<unsigned char>(text[i])))
            return false;
    }
    return true;
}

template <typename T>
Record valueOrNull(bool known, const T& value)
{
    return known ? Record(value) : Record();
}

} // namespace

UpgradeRun::UpgradeRun(std::string commandName)
    : command(std::move(commandName)), started(std::chrono::system_clock::now()),
      startedSteady(std::chrono::steady_clock::now())
{
}

std::string benchName(const std::filesystem::path& settingsFile)
{
    const std::string named = settings::readHistoryBenchSetting(settingsFile);
    return named.empty() ? platform::hostName() : named;
}

std::string newRecordId()
{
    std::array<std::uint8_t, 16> bytes{};
    fillUnique(bytes);
    return uuidText(bytes, 4);
}

std::string recordIdOf(const Record& record, std::string_view line)
{
    if (const auto id = record.find("id"); id != record.end() && id->is_string() && isUuidText(id->get<std::string>()))
        return id->get<std::string>();
    // Version 8, the UUID kind for ids a program derives by its own rule.
    const auto digest = sha256Of(line);
    std::array<std::uint8_t, 16> bytes{};
    std::copy_n(digest.begin(), bytes.size(), bytes.begin());
    return uuidText(bytes, 8);
}

std::string benchOf(const Record& record)
{
    for (const char* key : {"bench", "host"})
        if (const auto found = record.find(key); found != record.end() && found->is_string())
            return found->get<std::string>();
    return {};
}

std::string runName(const UpgradeRun& run)
{
    return run.command == kInfoCommand ? "board read" : run.command;
}

std::string deviceMeantBy(int port, const std::filesystem::path& settingsFile)
{
    return settings::serialDeviceFor(port, settingsFile).device;
}

std::string utcTimestamp(std::chrono::system_clock::time_point time)
{
    const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
    std::tm utc{};
#ifdef _WIN32
    gmtime_s(&utc, &seconds);
#else
    gmtime_r(&seconds, &utc);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

std::string resultOf(const flash::UpgradeReport& report)
{
    switch (report.result()) {
    case flash::RunResult::Success: return "success";
    case flash::RunResult::Interrupted: return "interrupted";
    case flash::RunResult::Declined: return "declined";
    case flash::RunResult::Failure: break;
    }
    return "failure";
}

flash::UpgradeReport reportOfBoardRead(const link::BoardIdentity& identity,
                                       const std::optional<link::ConnectionFailure>& failure, bool interrupted)
{
    flash::UpgradeReport report;
    report.stage = UpgradeStage::ReadingBoard;
    report.identity = identity;
    report.interrupted = interrupted;
    if (interrupted)
        return report;
    report.versionRead = !failure || failure->kind == FailureKind::ReadEsn;
    report.esnRead = !failure;
    if (failure) {
        report.failure = failure->kind;
        report.message = failure->text;
    }
    report.succeeded = !failure;
    if (report.succeeded)
        report.stage = UpgradeStage::Done;
    return report;
}

Record recordFor(const UpgradeRun& run, const flash::UpgradeReport& report)
{
    const auto elapsed = std::chrono::steady_clock::now() - run.startedSteady;
    const double seconds = std::chrono::duration<double>(elapsed).count();
    const auto& identity = report.identity;
    const bool identityKnown = report.identityBlockRead;
    const std::string result = resultOf(report);

    Record record;
    record["schema"] = kSchemaVersion;
    record["id"] = newRecordId();
    record["command"] = run.command;
    record["started"] = utcTimestamp(run.started);
    record["seconds"] = std::round(seconds * 1000.0) / 1000.0;
    record["host"] = platform::hostName();
    record["bench"] = run.bench;
    record["user"] = platform::userName();
    record["fieldkit"] = FIELDKIT_VERSION;
    record["port"] = comPortName(run.port);
    record["device"] = run.device;
    record["simulated"] = run.simulated;
    record["esn"] = valueOrNull(report.esnRead, identity.esn);
    record["board_version"] = valueOrNull(report.versionRead, identity.boardVersionText);
    // The settings version counts only where the board's version was compared with it.
    record["settings_version"] = valueOrNull(identityKnown && report.versionRead, run.settingsVersion);
    record["band_edge_hz"] = valueOrNull(identityKnown, identity.bandEdgeFrequency);
    record["config_variant"] = valueOrNull(identityKnown, identity.configVariant);
    record["files"] = filesOf(report);
    if (report.headerChecksum) {
        char checksum[8];
        std::snprintf(checksum, sizeof checksum, "0x%04X", static_cast<unsigned>(*report.headerChecksum));
        record["header_checksum"] = checksum;
    } else {
        record["header_checksum"] = nullptr;
    }
    record["questions"] = questionsOf(report);
    record["result"] = result;
    record["failure_kind"] = report.failure ? Record(std::string(keyOf(*report.failure))) : Record();
    record["message"] = report.message.empty() ? Record() : Record(report.message);
    record["stage"] = std::string(keyOf(report.stage));
    record["pages_written"] = report.pagesWritten;
    return record;
}

bool isRecord(const Record& value)
{
    return value.is_object() && value.contains("schema") && value["schema"].is_number_integer() &&
           value.contains("command") && value["command"].is_string() && value.contains("started") &&
           value["started"].is_string() && value.contains("result") && value["result"].is_string();
}

Record parseRecordLine(std::string_view line)
{
    // The parser itself keeps its nesting on the heap; the bound is for what comes after.
    bool tooDeep = false;
    Record value = Record::parse(
        line,
        [&tooDeep](int depth, Record::parse_event_t, Record&) {
            tooDeep = tooDeep || depth > kMaxRecordDepth;
            return !tooDeep;
        },
        false);
    return tooDeep ? Record(Record::value_t::discarded) : value;
}

} // namespace fieldkit::history
