#pragma once

// A BoardLink that writes down every call, and every pause of the clock in between, as
// lines of text, answers reads from a small memory, and fails the calls it is told to.

#include "link/board_link.h"
#include "tests/support/fake_clock.h"

#include <algorithm>
#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fieldkit::link {

class RecordingLink final : public BoardLink {
public:
    explicit RecordingLink(testing::FakeClock& clock) : clock_(clock)
    {
        for (std::size_t i = 0; i < handedOut.words.size(); ++i)
            handedOut.words[i] = static_cast<std::uint32_t>(100 + i);
    }

    // The calls so far, with "pause 200" wherever the clock slept.
    std::vector<std::string> calls()
    {
        notePauses();
        return log_;
    }
    int closePortCalls() const { return static_cast<int>(std::count(log_.begin(), log_.end(), "ClosePort")); }

    int BriskDllInit(const char* radioModel, const char* modelNumber, int largestRead, int boardAddress) override
    {
        return record("BriskDllInit " + std::string(radioModel) + " " + modelNumber + " " +
                      std::to_string(largestRead) + " " + std::to_string(boardAddress));
    }
    int ReadTimers(LinkTimers& timers) override
    {
        timers = handedOut;
        return record("ReadTimers");
    }
    int ConfigureTimers(const LinkTimers& timers) override
    {
        configured = timers;
        return record("ConfigureTimers");
    }
    int OpenPort(int port) override { return record("OpenPort " + std::to_string(port)); }
    void ClosePort() override { record("ClosePort"); }
    int Ping_Opt_Board(int port, std::uint8_t* reply) override
    {
        const int result = record("Ping " + std::to_string(port));
        if (result == 0)
            std::fill(reply, reply + 12, std::uint8_t{0x4C});
        return result;
    }
    int ReadDataOnly(int port, std::uint8_t* destination, std::uint32_t address, std::uint32_t count) override
    {
        const int result = record("Read " + std::to_string(port) + " " + hex(address) + " " + std::to_string(count));
        if (result == 0) {
            const auto& data = memory[address];
            for (std::uint32_t i = 0; i < count; ++i)
                destination[i] = i < data.size() ? data[i] : 0;
        }
        return result;
    }
    int WriteDataOnly(int port, const std::uint8_t*, std::uint32_t address, std::uint32_t count, int flags) override
    {
        return record("Write " + std::to_string(port) + " " + hex(address) + " " + std::to_string(count) + " " +
                      std::to_string(flags));
    }

    // Calls (as logged, e.g. "OpenPort 1", or "Read 1 0x0D00 15") that fail; "OpenPort 1#2" fails
    // only the second such call.
    std::set<std::string> failing;
    std::map<std::uint32_t, std::vector<std::uint8_t>> memory;
    LinkTimers handedOut;
    LinkTimers configured;

private:
    static std::string hex(std::uint32_t value)
    {
        char text[16];
        std::snprintf(text, sizeof text, "0x%04X", value);
        return text;
    }

    void notePauses()
    {
        for (; pausesSeen_ < clock_.pauses.size(); ++pausesSeen_)
            log_.push_back("pause " + std::to_string(clock_.pauses[pausesSeen_].count()));
    }

    int record(const std::string& call)
    {
        notePauses();
        log_.push_back(call);
        const int nth = ++callCounts_[call];
        return failing.count(call) != 0 || failing.count(call + "#" + std::to_string(nth)) != 0 ? -1 : 0;
    }

    testing::FakeClock& clock_;
    std::size_t pausesSeen_ = 0;
    std::vector<std::string> log_;
    std::map<std::string, int> callCounts_;
};

} // namespace fieldkit::link
