#include "link/stoppable_board_link.h"

namespace fieldkit::link {

int StoppableBoardLink::BriskDllInit(const char* radioModel, const char* modelNumber, int largestRead,
                                     int boardAddress)
{
    return stop_.requested() ? linkResult(LinkError::Stopped) : link_.BriskDllInit(radioModel, modelNumber, largestRead, boardAddress);
}

int StoppableBoardLink::ReadTimers(LinkTimers& timers)
{
    return stop_.requested() ? linkResult(LinkError::Stopped) : link_.ReadTimers(timers);
}

int StoppableBoardLink::ConfigureTimers(const LinkTimers& timers)
{
    return stop_.requested() ? linkResult(LinkError::Stopped) : link_.ConfigureTimers(timers);
}

int StoppableBoardLink::OpenPort(int port)
{
    return stop_.requested() ? linkResult(LinkError::Stopped) : link_.OpenPort(port);
}

void StoppableBoardLink::ClosePort()
{
    link_.ClosePort();
}

int StoppableBoardLink::Ping_Opt_Board(int port, std::uint8_t* reply)
{
    return stop_.requested() ? linkResult(LinkError::Stopped) : link_.Ping_Opt_Board(port, reply);
}

int StoppableBoardLink::ReadDataOnly(int port, std::uint8_t* destination, std::uint32_t address,
                                     std::uint32_t count)
{
    return stop_.requested() ? linkResult(LinkError::Stopped) : link_.ReadDataOnly(port, destination, address, count);
}

int StoppableBoardLink::WriteDataOnly(int port, const std::uint8_t* source, std::uint32_t address,
                                      std::uint32_t count, int flags)
{
    return stop_.requested() ? linkResult(LinkError::Stopped) : link_.WriteDataOnly(port, source, address, count, flags);
}

} // namespace fieldkit::link
