#include "link/link_result.h"

namespace fieldkit::link {
namespace {

// Counted down from -1 in the order of the enumeration.
constexpr int kFirstError = -1;
constexpr int kLastError = kFirstError - static_cast<int>(LinkError::Stopped);

} // namespace

int linkResult(LinkError error)
{
    return kFirstError - static_cast<int>(error);
}

std::optional<LinkError> linkErrorOf(int result)
{
    if (result > kFirstError || result < kLastError)
        return std::nullopt;
    return static_cast<LinkError>(kFirstError - result);
}

std::chrono::microseconds LinkStatistics::meanTurnaround() const
{
    if (answersTimed == 0 || answerWait <= requestLineTime)
        return std::chrono::microseconds::zero();
    return (answerWait - requestLineTime) / answersTimed;
}

} // namespace fieldkit::link
