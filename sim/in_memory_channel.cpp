#include "sim/in_memory_channel.h"

#include <algorithm>

namespace fieldkit::sim {

wire::OpenResult InMemoryChannel::open()
{
    ++opens_;
    if (openFailure_ && opens_ > successfulOpensFirst_)
        return {*openFailure_, "emulated open failure"};
    open_ = true;
    return {};
}

void InMemoryChannel::close()
{
    if (!open_)
        return;
    open_ = false;
    pending_.clear();
    endpoint_.lineIdle();
}

bool InMemoryChannel::write(std::span<const std::uint8_t> bytes)
{
    if (!open_)
        return false;
    const auto answer = endpoint_.receive(bytes);
    pending_.insert(pending_.end(), answer.begin(), answer.end());
    return true;
}

std::size_t InMemoryChannel::read(std::span<std::uint8_t> into, std::chrono::milliseconds)
{
    if (!open_)
        return 0;
    if (pending_.empty()) {
        endpoint_.lineIdle();
        return 0;
    }
    const std::size_t n = std::min(into.size(), pending_.size());
    std::copy_n(pending_.begin(), n, into.begin());
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(n));
    return n;
}

void InMemoryChannel::failOpens(wire::OpenFailure failure, std::size_t successfulOpensFirst)
{
    openFailure_.reset();
    if (failure != wire::OpenFailure::None)
        openFailure_ = failure;
    successfulOpensFirst_ = opens_ + successfulOpensFirst;
}

} // namespace fieldkit::sim
