#include "link/windows_serial_channel.h"

#include <windows.h>

#include <gtest/gtest.h>

namespace fieldkit::link {
namespace {

struct ErrorCase {
    unsigned long error;
    wire::OpenFailure failure;
};

class WindowsOpenError : public ::testing::TestWithParam<ErrorCase> {};

// The hints tell the user what to do from these: plug the cable in, close the other program,
// check the mapping.
TEST_P(WindowsOpenError, MapsToTheCauseTheHintsName)
{
    EXPECT_EQ(openFailureOfWindowsError(GetParam().error), GetParam().failure);
}

INSTANTIATE_TEST_SUITE_P(
    Errors, WindowsOpenError,
    ::testing::Values(ErrorCase{ERROR_FILE_NOT_FOUND, wire::OpenFailure::NotFound},
                      ErrorCase{ERROR_PATH_NOT_FOUND, wire::OpenFailure::NotFound},
                      ErrorCase{ERROR_ACCESS_DENIED, wire::OpenFailure::Busy},
                      ErrorCase{ERROR_SHARING_VIOLATION, wire::OpenFailure::Busy},
                      ErrorCase{ERROR_INVALID_FUNCTION, wire::OpenFailure::NotASerialPort},
                      ErrorCase{ERROR_GEN_FAILURE, wire::OpenFailure::Other}));

TEST(WindowsSerialChannel, APortThatDoesNotExistIsNotFoundInTheSystemsWords)
{
    WindowsSerialChannel channel("COM231", 115200);
    const auto result = channel.open();
    EXPECT_EQ(result.failure, wire::OpenFailure::NotFound);
    EXPECT_EQ(result.detail.rfind("COM231: ", 0), 0u) << result.detail;
    EXPECT_GT(result.detail.size(), std::string("COM231: ").size());
    EXPECT_FALSE(channel.isOpen());
    EXPECT_FALSE(channel.write(std::vector<std::uint8_t>{1}));
}

TEST(WindowsSerialChannel, NoDeviceNamedIsNotFound)
{
    WindowsSerialChannel channel("", 115200);
    EXPECT_EQ(channel.open().failure, wire::OpenFailure::NotFound);
}

} // namespace
} // namespace fieldkit::link
