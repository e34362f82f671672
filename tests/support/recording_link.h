#pragma once

#include "link/board_link.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace fieldkit::testing {

// Wraps a board link, records every call in order and can make chosen calls fail before
// they reach the board, for the steps the emulated board itself cannot fail (library set-up,
// timers, opening a port).
class RecordingLink final : public link::BoardLink {
public:
    struct Call {
        std::string function;
        std::uint32_t address = 0;
        std::vector<std::uint8_t> data; // bytes written, or bytes read on success
        int result = 0;
    };

    explicit RecordingLink(link::BoardLink& inner) : inner_(inner) {}

    // Fails the nth call (counted from 1) of `function` without passing it on.
    void failCall(std::string function, int occurrence = 1) { failures_.push_back({std::move(function), occurrence}); }

    int BriskDllInit(const char* radioModel, const char* modelNumber, int largestRead, int boardAddress) override
    {
        return record("BriskDllInit", 0, {}, [&] { return inner_.BriskDllInit(radioModel, modelNumber, largestRead, boardAddress); });
    }
    int ReadTimers(link::LinkTimers& timers) override
    {
        return record("ReadTimers", 0, {}, [&] { return inner_.ReadTimers(timers); });
    }
    int ConfigureTimers(const link::LinkTimers& timers) override
    {
        configuredTimers = timers;
        return record("ConfigureTimers", 0, {}, [&] { return inner_.ConfigureTimers(timers); });
    }
    int OpenPort(int port) override
    {
        const int result = record("OpenPort", static_cast<std::uint32_t>(port), {}, [&] { return inner_.OpenPort(port); });
        if (result == 0)
            ++openPorts;
        return result;
    }
    void ClosePort() override
    {
        calls.push_back({"ClosePort", 0, {}, 0});
        if (openPorts > 0)
            --openPorts;
        inner_.ClosePort();
    }
    int Ping_Opt_Board(int port, std::uint8_t* reply) override
    {
        return record("Ping_Opt_Board", static_cast<std::uint32_t>(port), {}, [&] { return inner_.Ping_Opt_Board(port, reply); });
    }
    int ReadDataOnly(int port, std::uint8_t* destination, std::uint32_t address, std::uint32_t count) override
    {
        const int result = record("ReadDataOnly", address, {}, [&] { return inner_.ReadDataOnly(port, destination, address, count); });
        if (result == 0)
            calls.back().data.assign(destination, destination + count);
        else
            calls.back().data.resize(count); // remember the size asked for
        return result;
    }
    int WriteDataOnly(int port, const std::uint8_t* source, std::uint32_t address, std::uint32_t count, int flags) override
    {
        return record("WriteDataOnly", address, std::vector<std::uint8_t>(source, source + count),
                      [&] { return inner_.WriteDataOnly(port, source, address, count, flags); });
    }

    std::vector<Call> calls;
    std::function<void(const Call&)> afterCall; // sees each call once it has returned
    link::LinkTimers configuredTimers;
    int openPorts = 0; // ports the link has open right now, as far as the calls tell

private:
    struct Failure {
        std::string function;
        int occurrence;
    };

    template <typename Forward>
    int record(const char* function, std::uint32_t address, std::vector<std::uint8_t> data, Forward forward)
    {
        int seen = 0;
        for (const auto& call : calls)
            seen += call.function == function;
        int result = 0;
        bool injected = false;
        for (const auto& failure : failures_)
            injected = injected || (failure.function == function && failure.occurrence == seen + 1);
        result = injected ? -100 : forward();
        calls.push_back({function, address, std::move(data), result});
        if (afterCall)
            afterCall(calls.back());
        return result;
    }

    link::BoardLink& inner_;
    std::vector<Failure> failures_;
};

} // namespace fieldkit::testing
