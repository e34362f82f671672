#pragma once

#include <chrono>
#include <cstdint>

namespace fieldkit {

// The only way the logic libraries learn the time or wait. The desktop program and the
// command line pass a SystemClock; tests pass a fake that records every pause and costs
// no real time.
class Clock {
public:
    virtual ~Clock() = default;

    // A millisecond tick counter that wraps at 2^32, like the tick counter of the PC the
    // tool was first written for; elapsed times are taken by unsigned subtraction.
    virtual std::uint32_t tickMs() = 0;

    virtual void sleep(std::chrono::milliseconds duration) = 0;
};

class SystemClock final : public Clock {
public:
    std::uint32_t tickMs() override;
    void sleep(std::chrono::milliseconds duration) override;
};

} // namespace fieldkit
