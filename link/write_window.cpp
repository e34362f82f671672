#include "link/write_window.h"

#include "link/board_link.h"

namespace fieldkit::link {

int OneAtATimeWindow::send(const std::uint8_t* source, std::uint32_t address, std::uint32_t count)
{
    results_.push_back(link_.WriteDataOnly(port_, source, address, count, 0));
    return LINK_OK;
}

int OneAtATimeWindow::nextAnswer()
{
    const int result = results_.front();
    results_.pop_front();
    return result;
}

} // namespace fieldkit::link
