#include "settings/app_settings.h"
#include "settings/profile.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

namespace fieldkit::settings {
namespace {

namespace fs = std::filesystem;

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
        ReadCase{"Garbage", std::string("\x01\xff[[=]]\n=\n[\n", 13), "Firmware", "Version", 14, "DEFAULT"}),
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
    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("fieldkit-settings-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::remove_all(dir);
        fs::create_directories(dir);
        file = dir / kSettingsFileName;
    }
    void TearDown() override
    {
        fs::permissions(dir, fs::perms::owner_all);
        fs::remove_all(dir);
    }
    void put(const std::string& content) { std::ofstream(file, std::ios::binary) << content; }
    std::string get() const
    {
        std::ifstream in(file, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }

    fs::path dir;
    fs::path file;
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

TEST_F(SettingsFile, AFailedWriteSaysWhyAndLeavesTheFileAsItWas)
{
    put("[SerialPort]\nPortNumber=COM1\n");
    fs::path blocker = file;
    blocker += ".new"; // where the new file would be written first
    fs::create_directory(blocker);
    std::string error;
    EXPECT_FALSE(writePortSetting(file, 2, &error));
    EXPECT_NE(error.find("Is a directory"), std::string::npos) << error;
    EXPECT_EQ(get(), "[SerialPort]\nPortNumber=COM1\n");
}

TEST_F(SettingsFile, AWriteIntoAMissingDirectoryFailsCleanly)
{
    std::string error;
    EXPECT_FALSE(writePortSetting(dir / "missing" / kSettingsFileName, 2, &error));
    EXPECT_FALSE(error.empty());
}

} // namespace
} // namespace fieldkit::settings
