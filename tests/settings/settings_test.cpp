#include "settings/app_settings.h"
#include "settings/port_devices.h"
#include "settings/profile.h"
#include "tests/support/environment_variable.h"
#include "tests/support/temp_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>

namespace fieldkit::settings {
namespace {

namespace fs = std::filesystem;

// A file's text as Windows editors save it: "UTF-8 with BOM", or "Unicode" (UTF-16 with its
// byte order mark), little or big endian.
std::string withUtf8Mark(const std::string& text)
{
    return "\xEF\xBB\xBF" + text;
}

std::string utf16(const std::u16string& text, bool littleEndian = true)
{
    std::string bytes = littleEndian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t unit : text) {
        const auto high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
        bytes += littleEndian ? low : high;
        bytes += littleEndian ? high : low;
    }
    return bytes;
}

struct ReadCase {
    const char* name;
    std::string content;
    const char* section;
    const char* key;
    std::size_t buffer;
    std::string expected;
};

class ProfileRead : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ProfileRead, FollowsThePrivateProfileRules)
{
    const auto& c = GetParam();
    EXPECT_EQ(readProfileStringFrom(c.content, c.section, c.key, "DEFAULT", c.buffer), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProfileRead,
    ::testing::Values(
        ReadCase{"Plain", "[SerialPort]\nPortNumber=COM3\n", "SerialPort", "PortNumber", 6, "COM3"},
        ReadCase{"OddCase", "[serialport]\nportnumber=com2\n", "SerialPort", "PortNumber", 6, "com2"},
        ReadCase{"SpacesAndQuotes", "[Firmware]\n  Version =  \" 1.2 \"  \n", "Firmware", "Version", 14, " 1.2 "},
        ReadCase{"SingleQuotes", "[Firmware]\nVersion='V1'\n", "Firmware", "Version", 14, "V1"},
        ReadCase{"OnlyOnePairOfQuotesDropped", "[F]\nK=\"\"x\"\"\n", "F", "K", 14, "\"x\""},
        ReadCase{"CrLf", "[Firmware]\r\nVersion=AB1.2\r\n", "Firmware", "Version", 14, "AB1.2"},
        ReadCase{"NoTrailingNewline", "[Firmware]\nVersion=AB1.2", "Firmware", "Version", 14, "AB1.2"},
        ReadCase{"CutToBufferLessOne", "[SerialPort]\nPortNumber=COM123\n", "SerialPort", "PortNumber", 6, "COM12"},
        ReadCase{"VersionCutTo13", "[Firmware]\nVersion=ABCDEFGHIJKLMNOP\n", "Firmware", "Version", 14,
                 "ABCDEFGHIJKLM"},
        ReadCase{"OtherSectionNotTaken", "[Other]\nVersion=X\n[Firmware]\nName=Y\n", "Firmware", "Version", 14,
                 "DEFAULT"},
        ReadCase{"CommentsSkipped", "[Firmware]\n;Version=old\n# Version=older\nVersion=new\n", "Firmware", "Version",
                 14, "new"},
        ReadCase{"FirstKeyWins", "[Firmware]\nVersion=one\nVersion=two\n", "Firmware", "Version", 14, "one"},
        ReadCase{"EmptyValue", "[Firmware]\nVersion=\n", "Firmware", "Version", 14, ""},
        ReadCase{"MissingFile", "", "Firmware", "Version", 14, "DEFAULT"},
        ReadCase{"Garbage", std::string("\x01\xff[[=]]\n=\n[\n", 13), "Firmware", "Version", 14, "DEFAULT"},
        ReadCase{"Utf8ByteOrderMark", withUtf8Mark("[SerialPort]\r\nPortNumber=COM3\r\n"), "SerialPort", "PortNumber", 6,
                 "COM3"},
        ReadCase{"Utf16LittleEndian", utf16(u"[SerialPort]\r\nPortNumber=COM3\r\n[Firmware]\r\nVersion=R07.12.00\r\n"),
                 "Firmware", "Version", 14, "R07.12.00"},
        ReadCase{"Utf16BigEndian", utf16(u"[SerialPort]\nPortNumber=COM3\n", false), "SerialPort", "PortNumber", 6, "COM3"},
        // Beyond ASCII, a surrogate pair included; values come out as UTF-8.
        ReadCase{"Utf16NamesBeyondAscii", utf16(u"[History]\r\nBench=Pr\u00FCfstand \u5317 \U0001F6E0\r\n"), "History", "Bench",
                 64, "Pr\xC3\xBC" "fstand \xE5\x8C\x97 \xF0\x9F\x9B\xA0"}),
    [](const auto& info) { return std::string(info.param.name); });

struct PortCase {
    const char* value;
    int port;
    bool invalid;
    bool withoutPrefix = false;
};

class PortValue : public ::testing::TestWithParam<PortCase> {};

TEST_P(PortValue, GivesThePortAndWarnsOutsideOneToFour)
{
    const auto setting = parsePortSetting(GetParam().value);
    EXPECT_EQ(setting.port, GetParam().port);
    EXPECT_EQ(setting.invalid, GetParam().invalid);
    EXPECT_EQ(setting.withoutPrefix, GetParam().withoutPrefix);
}

INSTANTIATE_TEST_SUITE_P(Values, PortValue,
                         ::testing::Values(PortCase{"COM1", 1, false}, PortCase{"com3", 3, false},
                                           PortCase{"COM 4", 4, false}, PortCase{"3", 1, false, true},
                                           PortCase{"COM5", 1, true}, PortCase{"COM0", 1, true},
                                           PortCase{"COM", 1, true}, PortCase{"COMx", 1, true},
                                           PortCase{"COM12", 1, true}, PortCase{"COM-2", 1, true},
                                           PortCase{"COM99999999999", 1, true},
                                           PortCase{"", 1, false, true}, PortCase{"CO4", 1, false, true}));

class SettingsFile : public ::testing::Test {
protected:
    void put(const std::string& content) { std::ofstream(file, std::ios::binary) << content; }
    std::string get() const
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    testing::TempDir dir;
    fs::path file = dir / kSettingsFileName;
};

TEST_F(SettingsFile, MissingFileGivesDefaultsAndIsNotCreated)
{
    EXPECT_EQ(readPortSetting(file).port, 1);
    EXPECT_FALSE(readPortSetting(file).invalid);
    EXPECT_EQ(readFirmwareVersionSetting(file), "UNDEFINED");
    EXPECT_FALSE(fs::exists(file));
}

TEST_F(SettingsFile, WritingThePortKeepsEveryOtherLine)
{
    put("; site settings\r\n[Firmware]\r\nVersion = \"R07.02\"\r\n\r\n[serialport]\r\nportnumber=COM1 ; old\r\n"
        "Other=1\r\n[SerialDevices]\r\nCOM1=/dev/ttyUSB0\r\n");
    ASSERT_TRUE(writePortSetting(file, 3));
    EXPECT_EQ(get(), "; site settings\r\n[Firmware]\r\nVersion = \"R07.02\"\r\n\r\n[serialport]\r\nportnumber=COM3\r\n"
                     "Other=1\r\n[SerialDevices]\r\nCOM1=/dev/ttyUSB0\r\n");
    EXPECT_EQ(readPortSetting(file).port, 3);
    EXPECT_EQ(readFirmwareVersionSetting(file), "R07.02");
    EXPECT_EQ(readSerialDeviceSetting(file, 1), "/dev/ttyUSB0");
}

TEST_F(SettingsFile, WritingAddsTheKeyOrTheSectionWhereMissing)
{
    put("[Firmware]\nVersion=A\n\n[SerialPort]\nBaud=1\n\n[Other]\nX=1");
    ASSERT_TRUE(writePortSetting(file, 2));
    EXPECT_EQ(get(), "[Firmware]\nVersion=A\n\n[SerialPort]\nBaud=1\nPortNumber=COM2\n\n[Other]\nX=1");

    put("[Firmware]\nVersion=A");
    ASSERT_TRUE(writePortSetting(file, 4));
    EXPECT_EQ(get(), "[Firmware]\nVersion=A\n[SerialPort]\nPortNumber=COM4\n");

    fs::remove(file);
    std::string error;
    ASSERT_TRUE(writePortSetting(file, 2, &error)) << error;
    EXPECT_EQ(readPortSetting(file).port, 2);
}

// Written back in the encoding it came in, every other unit as it was: a lone surrogate too.
struct EncodingCase {
    const char* name;
    std::string (*encode)(const std::u16string& text);
};

class SettingsFileEncoding : public SettingsFile, public ::testing::WithParamInterface<EncodingCase> {};

TEST_P(SettingsFileEncoding, IsKeptWhenThePortIsWritten)
{
    const auto encode = GetParam().encode;
    put(encode(u"; Pr\u00FCfstand \xD800\r\n[SerialPort]\r\nPortNumber=COM1\r\n[Firmware]\r\nVersion=R07.12.00\r\n"));
    ASSERT_TRUE(writePortSetting(file, 3));
    EXPECT_EQ(get(), encode(u"; Pr\u00FCfstand \xD800\r\n[SerialPort]\r\nPortNumber=COM3\r\n[Firmware]\r\nVersion=R07.12.00\r\n"));
    EXPECT_EQ(readPortSetting(file).port, 3);
    EXPECT_EQ(readFirmwareVersionSetting(file), "R07.12.00");
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, SettingsFileEncoding,
    ::testing::Values(EncodingCase{"Utf16LittleEndian", [](const std::u16string& text) { return utf16(text); }},
                      EncodingCase{"Utf16BigEndian", [](const std::u16string& text) { return utf16(text, false); }},
                      EncodingCase{"Utf8ByteOrderMark",
                                   [](const std::u16string& text) {
                                       // The same text without the surrogate, which UTF-8 cannot carry.
                                       std::string bytes;
                                       for (const char16_t unit : text)
                                           if (unit < 0x80)
                                               bytes += static_cast<char>(unit);
                                           else if (unit == u'\u00FC')
                                               bytes += "\xC3\xBC";
                                       return withUtf8Mark(bytes);
                                   }}),
    [](const auto& info) { return std::string(info.param.name); });

struct ProblemCase {
    const char* name;
    std::string content;
    std::optional<std::string> problem;
};

class ProfileProblem : public ::testing::TestWithParam<ProblemCase> {};

TEST_P(ProfileProblem, NamesWhatWouldNotBeReadAsMeant)
{
    EXPECT_EQ(profileProblem(GetParam().content), GetParam().problem);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ProfileProblem,
    ::testing::Values(
        ProblemCase{"Good", "; bench 3\r\n\r\n[SerialPort]\r\nPortNumber=COM1\r\n", std::nullopt},
        ProblemCase{"GoodWithItsMark", withUtf8Mark("[SerialPort]\nPortNumber=COM1"), std::nullopt},
        ProblemCase{"GoodInUtf16", utf16(u"[SerialPort]\r\nPortNumber=COM1\r\n", false), std::nullopt},
        ProblemCase{"Missing", "", std::nullopt},
        ProblemCase{"Utf16WithoutItsMark", utf16(u"[SerialPort]\r\nPortNumber=COM3\r\n").substr(2),
                    "holds NUL bytes, so it is not read as text: save it as UTF-8, or as UTF-16 (\"Unicode\") with its "
                    "byte order mark"},
        ProblemCase{"NoSection", "PortNumber=COM3\n", "line 1 stands before any [section] line, and is not read"},
        ProblemCase{"NeitherKeyNorSection", "[SerialPort]\nPortNumber: COM3\n",
                    "line 2 is neither a [section], a key=value nor a comment, and is not read"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SettingsFile, AFailedWriteSaysWhyAndLeavesTheFileAsItWas)
{
    put("[SerialPort]\nPortNumber=COM1\n");
    fs::path blocker = file;
    blocker += ".new"; // where the new file would be written first
    fs::create_directory(blocker);
    std::string error;
    EXPECT_FALSE(writePortSetting(file, 2, &error));
#ifdef _WIN32
    const std::string refusal = "Permission denied"; // Windows will not open a directory as a file
#else
    const std::string refusal = "Is a directory";
#endif
    EXPECT_NE(error.find(refusal), std::string::npos) << error;
    EXPECT_EQ(get(), "[SerialPort]\nPortNumber=COM1\n");
}

TEST_F(SettingsFile, AWriteIntoAMissingDirectoryFailsCleanly)
{
    std::string error;
    EXPECT_FALSE(writePortSetting(dir / "missing" / kSettingsFileName, 2, &error));
    EXPECT_FALSE(error.empty());
}

#ifdef _WIN32
std::string platformDevice(int port) { return "COM" + std::to_string(port); }
#else
std::string platformDevice(int port) { return "/dev/ttyS" + std::to_string(port - 1); }
#endif

struct MappingCase {
    const char* name;
    std::optional<std::string> environment; // FIELDKIT_COM2
    std::optional<std::string> setting;     // SerialDevices/COM2
    std::string device;                     // "" for the platform's own
    std::string source;
};

void PrintTo(const MappingCase& c, std::ostream* os) { *os << c.name; }

class SerialDeviceFor : public ::testing::TestWithParam<MappingCase> {};

TEST_P(SerialDeviceFor, EnvironmentGoesBeforeSettingsBeforeThePlatformDefault)
{
    const MappingCase& c = GetParam();
    const fs::path file = fs::temp_directory_path() / ("fieldkit-mapping-" + std::string(c.name) + ".ini");
    // CR LF line ends, as a Windows editor saves the file.
    std::ofstream(file, std::ios::binary) << "[SerialPort]\r\nPortNumber=COM2\r\n[SerialDevices]\r\nCOM1=/dev/ttyACM9\r\n" +
                                                 (c.setting ? "COM2=" + *c.setting + "\r\n" : std::string());
    testing::EnvironmentVariable variable("FIELDKIT_COM2", c.environment);
    testing::EnvironmentVariable otherPort("FIELDKIT_COM3", "/dev/ttyUSB7");
    const PortDevice mapped = serialDeviceFor(2, file);
    fs::remove(file);
    EXPECT_EQ(mapped.device, c.device.empty() ? platformDevice(2) : c.device);
    EXPECT_EQ(mapped.source, c.source);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, SerialDeviceFor,
    ::testing::Values(
        MappingCase{"EnvironmentAndSetting", "/dev/pts/5", "/dev/ttyUSB0", "/dev/pts/5", "environment FIELDKIT_COM2"},
        MappingCase{"SettingOnly", std::nullopt, "COM7", "COM7", "AppConfig.ini [SerialDevices] COM2"},
        MappingCase{"EmptyEnvironment", "", "/dev/ttyUSB0", "/dev/ttyUSB0", "AppConfig.ini [SerialDevices] COM2"},
        MappingCase{"Neither", std::nullopt, std::nullopt, "", "default"},
        MappingCase{"EmptySetting", std::nullopt, "", "", "default"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SerialDeviceForDefaults, AreThePlatformsOwnWithoutAnyFileAndNothingOutsideOneToFour)
{
    const fs::path missing = "/nonexistent/AppConfig.ini";
    for (int port = 1; port <= 4; ++port) {
        testing::EnvironmentVariable unset("FIELDKIT_COM" + std::to_string(port), std::nullopt);
        EXPECT_EQ(serialDeviceFor(port, missing).device, platformDevice(port));
    }
    testing::EnvironmentVariable zero("FIELDKIT_COM0", "/dev/pts/1");
    EXPECT_EQ(serialDeviceFor(0, missing).device, "");
    EXPECT_EQ(serialDeviceFor(5, missing).device, "");
}

// Two names of one device would let two runs of a bench drive one board at once.
TEST(SameDevice, ComparesWhatTheNamesLeadTo)
{
#ifdef _WIN32
    EXPECT_TRUE(sameDevice("COM3", R"(\\.\com3)"));
    EXPECT_FALSE(sameDevice("COM3", "COM13"));
#else
    const fs::path alias = fs::temp_directory_path() / "fieldkit-same-device-alias";
    fs::remove(alias);
    fs::create_symlink("/dev/null", alias);
    EXPECT_TRUE(sameDevice("/dev/null", alias.string()));
    fs::remove(alias);
    EXPECT_FALSE(sameDevice("/dev/null", "/dev/zero"));
    EXPECT_TRUE(sameDevice("/nonexistent/usb/../ttyUSB9", "/nonexistent/ttyUSB9"));
    EXPECT_FALSE(sameDevice("/nonexistent/ttyUSB8", "/nonexistent/ttyUSB9"));
#endif
}

} // namespace
} // namespace fieldkit::settings
