#include "cli/TextTable.h"

#include <algorithm>

#include "cli/Format.h"

namespace tessly::cli {

TextTable::TextTable(std::vector<int> widths, int gap) : widths_(std::move(widths)), gap_(gap) {}

TextTable& TextTable::add(std::vector<std::string> row) {
    rows_.push_back(std::move(row));
    return *this;
}

std::vector<std::string> TextTable::lines() const {
    std::vector<int> widths = widths_;
    std::vector<bool> fitted;
    for (const auto& row : rows_) {
        if (row.size() > widths.size()) widths.resize(row.size(), 0);
    }
    fitted.resize(widths.size());
    for (std::size_t i = 0; i < widths.size(); ++i)
        fitted[i] = widths[i] <= 0;
    for (const auto& row : rows_) {
        // The last cell of a row is never padded, so it does not widen its column.
        for (std::size_t i = 0; i + 1 < row.size(); ++i) {
            if (fitted[i]) widths[i] = std::max(widths[i], displayWidth(row[i]) + gap_);
        }
    }
    std::vector<std::string> lines;
    lines.reserve(rows_.size());
    for (const auto& row : rows_) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i) {
            line += i + 1 < row.size() ? padRight(row[i], widths[i]) : row[i];
        }
        lines.push_back(std::move(line));
    }
    return lines;
}

std::string TextTable::text() const {
    std::string text;
    for (const auto& line : lines()) {
        text += line;
        text += '\n';
    }
    return text;
}

}  // namespace tessly::cli
