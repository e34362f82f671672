#pragma once

#include "link/link_result.h"
#include "link/write_window.h"

#include <array>
#include <cstdint>
#include <memory>

namespace fieldkit::link {

// Ten words handed out by ReadTimers and back to ConfigureTimers. docs/link-protocol.md
// says what each one means; callers set words 0, 1 and 8 and pass the rest back as read.
struct LinkTimers {
    std::array<std::uint32_t, 10> words{};
};

// The board link: the eight entry points through which the rest of the system reaches the
// option board. Every function but ClosePort returns 0 for success and anything else for
// failure. Calls come from one thread at a time.
class BoardLink {
public:
    virtual ~BoardLink() = default;

    virtual int BriskDllInit(const char* radioModel, const char* modelNumber, int largestRead, int boardAddress) = 0;
    virtual int ReadTimers(LinkTimers& timers) = 0;
    virtual int ConfigureTimers(const LinkTimers& timers) = 0;
    virtual int OpenPort(int port) = 0;
    virtual void ClosePort() = 0;
    // Called while no port is open; opens the port for the ping and closes it again. The
    // reply buffer must hold at least 12 bytes.
    virtual int Ping_Opt_Board(int port, std::uint8_t* reply) = 0;
    // 0 only when `destination` holds exactly `count` bytes read from `address`.
    virtual int ReadDataOnly(int port, std::uint8_t* destination, std::uint32_t address, std::uint32_t count) = 0;
    // 0 only when the board has confirmed it took the bytes. `flags` is always 0.
    virtual int WriteDataOnly(int port, const std::uint8_t* source, std::uint32_t address, std::uint32_t count,
                              int flags) = 0;

    // Not an entry point: writes to the open `port` kept on the line several at a time, as
    // far as the board said it can hold them when it answered the ping. A link or a board
    // that cannot gives a window of one write at a time, through WriteDataOnly.
    virtual std::unique_ptr<WriteWindow> openWriteWindow(int port)
    {
        return std::make_unique<OneAtATimeWindow>(*this, port);
    }

    // Not an entry point: what the link can tell about its line, for hints. A link without a
    // line of its own tells nothing.
    virtual LinkDetails details() const { return {}; }
};

} // namespace fieldkit::link
