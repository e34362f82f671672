#include "link/stoppable_board_link.h"

namespace fieldkit::link {
namespace {

class StoppableWindow final : public WriteWindow {
public:
    StoppableWindow(std::unique_ptr<WriteWindow> window, const UpgradeStop& stop)
        : window_(std::move(window)), stop_(stop)
    {
    }

    bool hasRoomFor(std::uint32_t count) const override { return window_->hasRoomFor(count); }
    int send(const std::uint8_t* source, std::uint32_t address, std::uint32_t count) override
    {
        return stop_.requested() ? linkResult(LinkError::Stopped) : window_->send(source, address, count);
    }
    int nextAnswer() override { return window_->nextAnswer(); }
    std::size_t answersDue() const override { return window_->answersDue(); }

private:
    std::unique_ptr<WriteWindow> window_;
    const UpgradeStop& stop_;
};

} // namespace

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

std::unique_ptr<WriteWindow> StoppableBoardLink::openWriteWindow(int port)
{
    return std::make_unique<StoppableWindow>(link_.openWriteWindow(port), stop_);
}

} // namespace fieldkit::link
