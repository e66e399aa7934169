#pragma once
// What differs between the cells a screen shows and the cells the game wants, as runs of cells
// along the rows. The POSIX frame encoder and the Windows console both draw a frame span by span.

#include <optional>
#include <vector>

#include "platform/screen_model.h"

// Neighbouring cells on one row, all to be drawn.
struct Span {
  int x = 0;
  int y = 0;
  int length = 0;
  // The colour of its cells that show one; none when they are all blank.
  std::optional<Colour> colour;
};

// A blank shows only the black background, whatever colour it was written in.
inline bool LooksAlike(const Cell& a, const Cell& b) {
  return a.ch == b.ch && (a.ch == ' ' || a.colour == b.colour);
}

// Drawing a cell again costs less than a move past it, so a span goes on over up to this many
// cells that are shown already.
inline constexpr int kMostCellsBridged = 2;

// The cells of `wanted` that look other than in `shown`, looking only at `rows`: row by row from
// the top, each row from the left. A span holds cells of one colour, blanks going with any.
std::vector<Span> ChangedSpans(const ScreenCells& shown, const ScreenCells& wanted,
                               ScreenModel::RowSet rows);

// Copies `rows` of `wanted` into `shown`, once they have been drawn.
void CopyRows(ScreenCells& shown, const ScreenCells& wanted, ScreenModel::RowSet rows);
