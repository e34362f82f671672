#include "core/column_table.h"

#include "core/display_width.h"

#include <algorithm>

namespace fieldkit {

void writeColumns(std::ostream& out, const std::vector<std::vector<std::string>>& lines)
{
    // Columns on the screen, not bytes: a name in another script takes more bytes than columns.
    std::vector<std::vector<std::size_t>> cellWidths;
    std::vector<std::size_t> widths;
    for (const auto& line : lines) {
        auto& measured = cellWidths.emplace_back();
        widths.resize(std::max(widths.size(), line.size()), 0);
        for (std::size_t column = 0; column < line.size(); ++column) {
            measured.push_back(displayWidth(line[column]));
            widths[column] = std::max(widths[column], measured.back());
        }
    }
    for (std::size_t row = 0; row < lines.size(); ++row) {
        const auto& line = lines[row];
        std::string text;
        for (std::size_t column = 0; column < line.size(); ++column) {
            text += line[column];
            if (column + 1 < line.size())
                text += std::string(widths[column] - cellWidths[row][column] + 2, ' ');
        }
        text.erase(text.find_last_not_of(' ') + 1);
        out << text << '\n';
    }
}

} // namespace fieldkit
