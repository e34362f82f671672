#pragma once

#include "wire/byte_channel.h"

#include <functional>
#include <memory>

namespace fieldkit::link {

// Makes the (not yet opened) channel that COM port `port` (1 to 4) stands for.
using ChannelFactory = std::function<std::unique_ptr<wire::ByteChannel>(int port)>;

} // namespace fieldkit::link
