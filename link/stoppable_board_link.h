#pragma once

#include "core/stop.h"
#include "link/board_link.h"

namespace fieldkit::link {

// The board link as a stoppable run sees it: the real one until a stop is requested, then a
// line that refuses everything but closing the port, so the run takes its ordinary failure
// path and lets go of the port promptly. A call already under way finishes its request.
class StoppableBoardLink final : public BoardLink {
public:
    StoppableBoardLink(BoardLink& link, UpgradeStop& stop) : link_(link), stop_(stop) {}

    int BriskDllInit(const char* radioModel, const char* modelNumber, int largestRead, int boardAddress) override;
    int ReadTimers(LinkTimers& timers) override;
    int ConfigureTimers(const LinkTimers& timers) override;
    int OpenPort(int port) override;
    void ClosePort() override;
    int Ping_Opt_Board(int port, std::uint8_t* reply) override;
    int ReadDataOnly(int port, std::uint8_t* destination, std::uint32_t address, std::uint32_t count) override;
    int WriteDataOnly(int port, const std::uint8_t* source, std::uint32_t address, std::uint32_t count,
                      int flags) override;
    // The link's own window; once a stop is requested no further write goes out, but the
    // answers to those already on the line are still taken, so every page sent is settled.
    std::unique_ptr<WriteWindow> openWriteWindow(int port) override;
    LinkDetails details() const override { return link_.details(); }

private:
    BoardLink& link_;
    UpgradeStop& stop_;
};

} // namespace fieldkit::link
