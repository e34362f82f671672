#pragma once

// How many columns a terminal gives a text: one for most characters, two for the wide ones
// of East Asian scripts, none for combining marks. Measured in the program's own text, UTF-8,
// whatever the user's locale.

#include <cstddef>
#include <string_view>

namespace fieldkit {

// A byte that begins no UTF-8 character counts one column, as the terminal's replacement
// character does.
std::size_t displayWidth(std::string_view utf8);

} // namespace fieldkit
