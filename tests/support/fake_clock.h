#pragma once

#include "core/clock.h"

#include <vector>

namespace fieldkit::testing {

// Time that passes only when the code under test pauses, with every pause recorded.
class FakeClock final : public Clock {
public:
    explicit FakeClock(std::uint32_t startTick = 0) : tick_(startTick) {}

    std::uint32_t tickMs() override { return tick_; }
    void sleep(std::chrono::milliseconds duration) override
    {
        pauses.push_back(duration);
        tick_ += static_cast<std::uint32_t>(duration.count());
    }
    void advance(std::chrono::milliseconds duration) { tick_ += static_cast<std::uint32_t>(duration.count()); }

    std::vector<std::chrono::milliseconds> pauses;

private:
    std::uint32_t tick_;
};

} // namespace fieldkit::testing
