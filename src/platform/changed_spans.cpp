#include "platform/changed_spans.h"

#include <algorithm>
#include <cstddef>

std::vector<Span> ChangedSpans(const ScreenCells& shown, const ScreenCells& wanted,
                               ScreenModel::RowSet rows) {
  std::vector<Span> spans;
  for (int y = 0; y < kScreenHeight; ++y) {
    if (!rows.test(static_cast<std::size_t>(y))) continue;
    const auto row_start = static_cast<std::ptrdiff_t>(y) * kScreenWidth;
    const Cell* const shown_row = shown.data() + row_start;
    const Cell* const row = wanted.data() + row_start;
    int gap = -1;  // cells alike since the last span of this row ended, if it has one
    for (int x = 0; x < kScreenWidth; ++x) {
      if (LooksAlike(shown_row[x], row[x])) {
        if (gap >= 0) ++gap;
        continue;
      }
      // The last span takes this cell, and the few between, when they can share its colour.
      bool joins = gap >= 0 && gap <= kMostCellsBridged;
      std::optional<Colour> colour = joins ? spans.back().colour : std::nullopt;
      for (int between = x - gap; joins && between <= x; ++between) {
        const Cell& cell = row[between];
        if (cell.ch == ' ') continue;
        joins = !colour || colour == cell.colour;
        colour = cell.colour;
      }
      if (joins) {
        spans.back().length = x + 1 - spans.back().x;
        spans.back().colour = colour;
      } else {
        spans.push_back(
            Span{x, y, 1, row[x].ch == ' ' ? std::nullopt : std::optional(row[x].colour)});
      }
      gap = 0;
    }
  }
  return spans;
}

void CopyRows(ScreenCells& shown, const ScreenCells& wanted, ScreenModel::RowSet rows) {
  for (int y = 0; y < kScreenHeight; ++y) {
    if (!rows.test(static_cast<std::size_t>(y))) continue;
    const auto row_start = static_cast<std::ptrdiff_t>(y) * kScreenWidth;
    const Cell* const row = wanted.data() + row_start;
    std::copy(row, row + kScreenWidth, shown.data() + row_start);
  }
}
