#pragma once
// Rows of text in aligned columns, for the terminal. A column has a fixed width or fits its widest
// cell plus a gap; cells are padded to their column's width by terminal columns (displayWidth),
// and the last cell of a row is never padded, so no line ends in blanks. A cell wider than a
// fixed width is kept whole. Cells are printed as given: make outside text terminalSafe first.

#include <string>
#include <vector>

namespace tessly::cli {

class TextTable {
  public:
    // Column i is `widths[i]` columns wide where that is above 0; every other column fits its
    // widest cell plus `gap` blanks.
    explicit TextTable(std::vector<int> widths = {}, int gap = 2);

    TextTable& add(std::vector<std::string> row);

    // One string per row, without newlines.
    std::vector<std::string> lines() const;
    // Every row followed by a newline.
    std::string text() const;

  private:
    std::vector<int> widths_;
    int gap_;
    std::vector<std::vector<std::string>> rows_;
};

}  // namespace tessly::cli
