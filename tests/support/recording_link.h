#pragma once

#include "link/board_link.h"
#include "tests/support/fake_clock.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace fieldkit::testing {

// Wraps a board link, records every call in order and can make chosen calls fail before
// they reach the board, for the steps the emulated board itself cannot fail (library set-up,
// timers, opening a port). Given the clock, it also notes the pauses between the calls.
class RecordingLink final : public link::BoardLink {
public:
    struct Call {
        std::string function;
        std::string text; // the call with its arguments: "Read 1 0x0D00 15", "OpenPort 1"
        std::uint32_t address = 0; // the port for OpenPort and the ping
        std::vector<std::uint8_t> data; // bytes written, or bytes read on success
        int result = 0;
    };

    explicit RecordingLink(link::BoardLink& inner, const FakeClock* clock = nullptr) : inner_(inner), clock_(clock) {}

    // Fails the nth call (counted from 1) of `function` without passing it on.
    void failCall(const std::string& function, int occurrence = 1)
    {
        failing.insert(function + "#" + std::to_string(occurrence));
    }

    // The calls so far as texts, with "pause 200" wherever the clock slept.
    std::vector<std::string> lines() const
    {
        std::vector<std::string> lines;
        std::size_t pauses = 0;
        for (std::size_t i = 0; i < calls.size(); ++i) {
            for (; pauses < pausesBefore_[i]; ++pauses)
                lines.push_back(pauseLine(pauses));
            lines.push_back(calls[i].text);
        }
        for (; clock_ != nullptr && pauses < clock_->pauses.size(); ++pauses)
            lines.push_back(pauseLine(pauses));
        return lines;
    }
    int closePortCalls() const
    {
        return static_cast<int>(std::count_if(calls.begin(), calls.end(),
                                              [](const Call& call) { return call.function == "ClosePort"; }));
    }

    int BriskDllInit(const char* radioModel, const char* modelNumber, int largestRead, int boardAddress) override
    {
        return record("BriskDllInit",
                      std::string(radioModel) + " " + modelNumber + " " + std::to_string(largestRead) + " " +
                          std::to_string(boardAddress),
                      0, {}, [&] { return inner_.BriskDllInit(radioModel, modelNumber, largestRead, boardAddress); });
    }
    int ReadTimers(link::LinkTimers& timers) override
    {
        return record("ReadTimers", "", 0, {}, [&] { return inner_.ReadTimers(timers); });
    }
    int ConfigureTimers(const link::LinkTimers& timers) override
    {
        configuredTimers = timers;
        return record("ConfigureTimers", "", 0, {}, [&] { return inner_.ConfigureTimers(timers); });
    }
    int OpenPort(int port) override
    {
        const int result = record("OpenPort", std::to_string(port), static_cast<std::uint32_t>(port), {},
                                  [&] { return inner_.OpenPort(port); });
        if (result == 0)
            ++openPorts;
        return result;
    }
    void ClosePort() override
    {
        inner_.ClosePort(); // never refused: closing is how every failure ends
        calls.push_back({"ClosePort", "ClosePort", 0, {}, 0});
        pausesBefore_.push_back(clock_ ? clock_->pauses.size() : 0);
        if (openPorts > 0)
            --openPorts;
    }
    int Ping_Opt_Board(int port, std::uint8_t* reply) override
    {
        return record("Ping_Opt_Board", std::to_string(port), static_cast<std::uint32_t>(port), {},
                      [&] { return inner_.Ping_Opt_Board(port, reply); });
    }
    int ReadDataOnly(int port, std::uint8_t* destination, std::uint32_t address, std::uint32_t count) override
    {
        const int result = record("ReadDataOnly", std::to_string(port) + " " + hex(address) + " " + std::to_string(count),
                                  address, {}, [&] { return inner_.ReadDataOnly(port, destination, address, count); });
        if (result == 0)
            calls.back().data.assign(destination, destination + count);
        else
            calls.back().data.resize(count); // remember the size asked for
        return result;
    }
    int WriteDataOnly(int port, const std::uint8_t* source, std::uint32_t address, std::uint32_t count, int flags) override
    {
        return record("WriteDataOnly",
                      std::to_string(port) + " " + hex(address) + " " + std::to_string(count) + " " + std::to_string(flags),
                      address, std::vector<std::uint8_t>(source, source + count),
                      [&] { return inner_.WriteDataOnly(port, source, address, count, flags); });
    }

    // Calls that fail without reaching the inner link: a function ("OpenPort") or a call as
    // lines() shows it ("Read 1 0x0D00 15"), each alone for every such call or with "#2" for
    // only the second.
    std::set<std::string> failing;
    std::vector<Call> calls;
    std::function<void(const Call&)> afterCall; // sees each call once it has returned
    link::LinkTimers configuredTimers;
    int openPorts = 0; // ports the link has open right now, as far as the calls tell

private:
    static std::string hex(std::uint32_t value)
    {
        char text[16];
        std::snprintf(text, sizeof text, "0x%04X", value);
        return text;
    }

    std::string pauseLine(std::size_t index) const { return "pause " + std::to_string(clock_->pauses[index].count()); }

    bool fails(const std::string& key, std::map<std::string, int>& counts) const
    {
        const int nth = ++counts[key];
        return failing.count(key) != 0 || failing.count(key + "#" + std::to_string(nth)) != 0;
    }

    template <typename Forward>
    int record(const std::string& function, const std::string& arguments, std::uint32_t address,
               std::vector<std::uint8_t> data, Forward forward)
    {
        // The texts name reads, writes and pings shorter than the functions do.
        static const std::map<std::string, std::string> shortNames{
            {"ReadDataOnly", "Read"}, {"WriteDataOnly", "Write"}, {"Ping_Opt_Board", "Ping"}};
        const auto shortName = shortNames.find(function);
        std::string text = shortName == shortNames.end() ? function : shortName->second;
        if (!arguments.empty())
            text += " " + arguments;
        const bool byFunction = fails(function, functionCounts_);
        const bool byText = fails(text, textCounts_);
        const int result = byFunction || byText ? -1 : forward();
        calls.push_back({function, text, address, std::move(data), result});
        pausesBefore_.push_back(clock_ ? clock_->pauses.size() : 0);
        if (afterCall)
            afterCall(calls.back());
        return result;
    }

    link::BoardLink& inner_;
    const FakeClock* clock_;
    std::map<std::string, int> functionCounts_;
    std::map<std::string, int> textCounts_;
    std::vector<std::size_t> pausesBefore_;
};

} // namespace fieldkit::testing
