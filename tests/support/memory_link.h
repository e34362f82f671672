#pragma once

// A board link with no board behind it: every call succeeds, reads are answered from a small
// memory (zeros where nothing was put), the ping from a reply of 'L's, and the timers it
// hands out are 100, 101, ... so a test sees which words the caller changed.

#include "link/board_link.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

namespace fieldkit::testing {

class MemoryLink final : public link::BoardLink {
public:
    MemoryLink()
    {
        for (std::size_t i = 0; i < handedOut.words.size(); ++i)
            handedOut.words[i] = static_cast<std::uint32_t>(100 + i);
    }

    int BriskDllInit(const char*, const char*, int, int) override { return 0; }
    int ReadTimers(link::LinkTimers& timers) override
    {
        timers = handedOut;
        return 0;
    }
    int ConfigureTimers(const link::LinkTimers&) override { return 0; }
    int OpenPort(int) override { return 0; }
    void ClosePort() override {}
    int Ping_Opt_Board(int, std::uint8_t* reply) override
    {
        std::fill(reply, reply + 12, std::uint8_t{0x4C});
        return 0;
    }
    int ReadDataOnly(int, std::uint8_t* destination, std::uint32_t address, std::uint32_t count) override
    {
        const auto& data = memory[address];
        for (std::uint32_t i = 0; i < count; ++i)
            destination[i] = i < data.size() ? data[i] : 0;
        return 0;
    }
    int WriteDataOnly(int, const std::uint8_t*, std::uint32_t, std::uint32_t, int) override { return 0; }

    std::map<std::uint32_t, std::vector<std::uint8_t>> memory;
    link::LinkTimers handedOut;
};

} // namespace fieldkit::testing
