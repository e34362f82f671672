#pragma once

// What can go wrong on the board link, as one type. The eight entry points keep their integer
// results (0 for success, anything else for failure); linkResult is the one place an error
// becomes that integer, each error a value of its own.

#include "wire/byte_channel.h"

#include <chrono>
#include <cstdint>
#include <optional>

namespace fieldkit::link {

inline constexpr int LINK_OK = 0;

enum class LinkError {
    NotInitialised,  // BriskDllInit has not succeeded yet
    BadArgument,     // a port, size or setting out of range
    PortNotOpen,     // a read or write without an open port
    PortAlreadyOpen, // OpenPort or the ping while the port is open
    OpenFailed,      // the channel would not open (the details: LinkDetails::lastOpen)
    LineLost,        // the channel refused to send
    NoAnswer,        // no valid answer within the tries
    Refused,         // the board answered with its refusal
    NotLodestar,     // something answered the ping, but not a Lodestar board
    Stopped,         // the run is being stopped: the call was not made
};

int linkResult(LinkError error);
// The error an entry point's integer result stands for; empty for success or a value no error has.
std::optional<LinkError> linkErrorOf(int result);

// How the answers came back, counted by a link that talks to a real line.
struct LinkStatistics {
    std::uint64_t requests = 0;          // new requests, each counted once however often sent
    std::uint64_t payloadBytes = 0;      // bytes written or read by requests that succeeded
    std::uint64_t wireBytesSent = 0;     // every byte sent, resends included
    std::uint64_t wireBytesReceived = 0; // every byte read from the line, noise included
    std::uint64_t retries = 0;           // resends of a request

    // The answers' turnaround, timed only when the link has a clock: how many answers
    // began to arrive, the time from handing each request to the channel to its answer's
    // first byte, and how much of that the request itself spent on the line.
    std::uint64_t answersTimed = 0;
    std::chrono::milliseconds answerWait{0};
    std::chrono::microseconds requestLineTime{0};

    // The mean time the line stayed quiet between a request's last byte and its answer's
    // first byte: the board's own turnaround plus whatever the cable's adapter held the
    // answer back. Zero when no answer was timed.
    std::chrono::microseconds meanTurnaround() const;
};

// What a link can tell about its line beyond an entry point's result: why the port did not
// open and how the answers came back. Hints explain a failure from these.
struct LinkDetails {
    wire::OpenResult lastOpen;
    LinkStatistics statistics;
};

} // namespace fieldkit::link
