// The Win32 communications calls behind the serial channel on Windows, and the listing of the
// machine's COM ports.

#include "link/windows_serial_channel.h"

#include "link/serial_port.h"

#include <windows.h>

#include <algorithm>
#include <string_view>
#include <system_error>
#include <vector>

namespace fieldkit::link {
namespace {

// How long the bytes of one write may take to leave beyond their time on the wire; a line
// that takes longer is stuck (pulled cable, full buffer).
constexpr DWORD kWriteDrainMarginMs = 250;
constexpr std::uint32_t kBitsPerCharacter = 10; // start bit, 8 data bits, stop bit
constexpr DWORD kQueueSize = 4096;

HANDLE handleOf(void* handle) { return static_cast<HANDLE>(handle); }

// The system's own words for an error, without the line end FormatMessage adds.
std::string systemText(DWORD error)
{
    std::string text = std::system_category().message(static_cast<int>(error));
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ' || text.back() == '.'))
        text.pop_back();
    return text;
}

wire::OpenResult failure(DWORD error, const std::string& device)
{
    return {openFailureOfWindowsError(error), device + ": " + systemText(error)};
}

std::string pathOf(const std::string& device)
{
    // \\.\ reaches every port; without it COM10 and above are not found.
    return device.rfind(R"(\\.\)", 0) == 0 ? device : R"(\\.\)" + device;
}

} // namespace

wire::OpenFailure openFailureOfWindowsError(unsigned long error)
{
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_UNIT:
    case ERROR_DEV_NOT_EXIST:
        return wire::OpenFailure::NotFound;
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return wire::OpenFailure::Busy;
    case ERROR_INVALID_FUNCTION:
    case ERROR_NOT_SUPPORTED:
    case ERROR_INVALID_HANDLE:
        return wire::OpenFailure::NotASerialPort;
    default:
        return wire::OpenFailure::Other;
    }
}

WindowsSerialChannel::WindowsSerialChannel(std::string device, std::uint32_t baudRate)
    : device_(std::move(device)), baudRate_(baudRate)
{
}

WindowsSerialChannel::~WindowsSerialChannel() { close(); }

wire::OpenResult WindowsSerialChannel::open()
{
    if (handle_)
        return {wire::OpenFailure::Busy, device_ + ": already open"};
    if (device_.empty())
        return {wire::OpenFailure::NotFound, "no serial device named"};
    if (baudRate_ == 0)
        return {wire::OpenFailure::Other, device_ + ": no line speed given"};

    // No sharing: a second program opening the port gets "access denied".
    HANDLE port = ::CreateFileA(pathOf(device_).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return failure(::GetLastError(), device_);

    DCB line{};
    line.DCBlength = sizeof line;
    if (!::GetCommState(port, &line)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(port);
        // A file or another device opens, but has no line settings.
        return {wire::OpenFailure::NotASerialPort, device_ + ": not a serial port (" + systemText(error) + ")"};
    }
    line.BaudRate = baudRate_;
    line.ByteSize = 8;
    line.Parity = NOPARITY;
    line.StopBits = ONESTOPBIT;
    line.fBinary = TRUE;
    line.fParity = FALSE;
    line.fOutxCtsFlow = FALSE;
    line.fOutxDsrFlow = FALSE;
    line.fDtrControl = DTR_CONTROL_ENABLE; // the cable's level shifter may draw its power from DTR and RTS
    line.fRtsControl = RTS_CONTROL_ENABLE;
    line.fDsrSensitivity = FALSE;
    line.fOutX = FALSE;
    line.fInX = FALSE;
    line.fErrorChar = FALSE;
    line.fNull = FALSE;
    line.fAbortOnError = FALSE;
    if (!::SetCommState(port, &line) || !::SetupComm(port, kQueueSize, kQueueSize) ||
        !::PurgeComm(port, PURGE_RXABORT | PURGE_RXCLEAR | PURGE_TXABORT | PURGE_TXCLEAR)) {
        const DWORD error = ::GetLastError();
        ::CloseHandle(port);
        return failure(error, device_);
    }
    handle_ = port;
    readTimeout_ = std::chrono::milliseconds(-1);
    if (!setReadTimeout(std::chrono::milliseconds::zero())) {
        const DWORD error = ::GetLastError();
        close();
        return failure(error, device_);
    }
    return {};
}

void WindowsSerialChannel::close()
{
    if (!handle_)
        return;
    ::CloseHandle(handleOf(handle_));
    handle_ = nullptr;
}

bool WindowsSerialChannel::isOpen() const { return handle_ != nullptr; }

// A read returns when its buffer is full or when `timeout` has passed since it began; with
// no time at all it takes what is there and returns at once. Writes get the wire time of
// their bytes and a margin.
bool WindowsSerialChannel::setReadTimeout(std::chrono::milliseconds timeout)
{
    if (timeout == readTimeout_)
        return true;
    COMMTIMEOUTS timeouts{};
    if (timeout.count() <= 0) {
        timeouts.ReadIntervalTimeout = MAXDWORD;
    } else {
        timeouts.ReadTotalTimeoutConstant = static_cast<DWORD>(timeout.count());
    }
    timeouts.WriteTotalTimeoutMultiplier = (kBitsPerCharacter * 1000 + baudRate_ - 1) / baudRate_;
    timeouts.WriteTotalTimeoutConstant = kWriteDrainMarginMs;
    if (!::SetCommTimeouts(handleOf(handle_), &timeouts))
        return false;
    readTimeout_ = timeout;
    return true;
}

bool WindowsSerialChannel::write(std::span<const std::uint8_t> bytes)
{
    if (!handle_)
        return false;
    DWORD written = 0;
    if (::WriteFile(handleOf(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr) &&
        written == bytes.size())
        return true;
    // Nothing of a frame that did not leave whole may follow later.
    ::PurgeComm(handleOf(handle_), PURGE_TXABORT | PURGE_TXCLEAR);
    return false;
}

std::size_t WindowsSerialChannel::read(std::span<std::uint8_t> into, std::chrono::milliseconds timeout)
{
    if (!handle_ || into.empty() || !setReadTimeout(timeout))
        return 0;
    DWORD got = 0;
    // False on a dead line; either way nothing more comes in time.
    if (!::ReadFile(handleOf(handle_), into.data(), static_cast<DWORD>(into.size()), &got, nullptr))
        return 0;
    return got;
}

void WindowsSerialChannel::discardInput()
{
    if (handle_)
        ::PurgeComm(handleOf(handle_), PURGE_RXABORT | PURGE_RXCLEAR);
}

// Windows names every serial port it knows as a DOS device COMn; the name is all it offers
// without the device installation API.
std::vector<SerialPortDescription> availableSerialPorts()
{
    std::vector<char> names(64 * 1024);
    DWORD length = ::QueryDosDeviceA(nullptr, names.data(), static_cast<DWORD>(names.size()));
    std::vector<SerialPortDescription> ports;
    for (DWORD at = 0; at < length && names[at] != '\0';) {
        const std::string name(names.data() + at);
        at += static_cast<DWORD>(name.size()) + 1;
        if (name.size() < 4 || name.rfind("COM", 0) != 0 ||
            !std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        char target[512] = {};
        std::string description;
        if (::QueryDosDeviceA(name.c_str(), target, sizeof target) != 0)
            description = target; // e.g. \Device\Serial0 or \Device\VCP0 for a USB adapter
        ports.push_back({name, name, description, {}, {}});
    }
    std::sort(ports.begin(), ports.end(), [](const auto& a, const auto& b) {
        return a.name.size() != b.name.size() ? a.name.size() < b.name.size() : a.name < b.name;
    });
    return ports;
}

} // namespace fieldkit::link
