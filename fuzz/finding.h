#pragma once

// How a fuzz harness reports that the code under test broke one of its promises. The fuzz
// targets let the exception escape, which libFuzzer records as a crash with its input; the
// regression tests replay those inputs and expect no exception.

#include <stdexcept>
#include <string>

namespace fieldkit::fuzz {

class Finding : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

inline void require(bool holds, const std::string& promise)
{
    if (!holds)
        throw Finding(promise);
}

} // namespace fieldkit::fuzz
