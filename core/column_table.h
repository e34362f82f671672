#pragma once

// A table on a terminal: each column as wide as its widest cell, two spaces between columns,
// no spaces at a line's end.

#include <ostream>
#include <string>
#include <vector>

namespace fieldkit {

// `lines` starts with the header; every line has the same number of cells.
void writeColumns(std::ostream& out, const std::vector<std::vector<std::string>>& lines);

} // namespace fieldkit
