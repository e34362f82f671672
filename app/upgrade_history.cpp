#include "app/upgrade_history.h"

namespace fieldkit::app {
namespace {

// One box for several warnings: a paragraph each.
std::string paragraphs(const std::vector<std::string>& texts)
{
    std::string joined;
    for (const std::string& text : texts)
        joined += (joined.empty() ? "" : "\n\n") + text;
    return joined;
}

} // namespace

std::string historyWarning(const char* command, const session::Recorded& recorded)
{
    return paragraphs(session::recordWarnings(command, recorded));
}

std::string shopWarning()
{
    return paragraphs(session::pushToShop());
}

} // namespace fieldkit::app
