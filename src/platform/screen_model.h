#pragma once
// What a 155 by 42 console shows, and the rules by which written text moves its cursor. Both the
// POSIX terminal and the in-memory terminal keep one of these.

#include <array>
#include <bitset>
#include <string>

#include "platform/terminal.h"

struct Cell {
  char ch = ' ';
  Colour colour = Colour::Normal;
  bool operator==(const Cell&) const = default;
};

// Every cell of the screen, row after row.
using ScreenCells = std::array<Cell, std::size_t{kScreenWidth} * kScreenHeight>;

class ScreenModel {
 public:
  ScreenModel() { Clear(); }

  void MoveCursor(int x, int y);
  // Writes `ch` by the console's rules; returns true when it was the bell.
  bool Write(char ch);
  void SetColour(Colour colour) { colour_ = colour; }
  void Clear();

  const Cell& At(int x, int y) const { return cells_[Index(x, y)]; }
  const ScreenCells& cells() const { return cells_; }
  Colour colour() const { return colour_; }
  int cursor_x() const { return x_; }
  // kScreenHeight once text has run past the last row: further text is dropped until the cursor
  // is moved.
  int cursor_y() const { return y_; }
  // The characters of row y, as a string of kScreenWidth bytes.
  std::string Row(int y) const;

  using RowSet = std::bitset<kScreenHeight>;
  // The rows in which a cell changed since the last call; forgets them.
  RowSet TakeChangedRows() {
    const RowSet rows = changed_rows_;
    changed_rows_.reset();
    return rows;
  }

 private:
  static int Index(int x, int y) { return y * kScreenWidth + x; }
  void Fill(char ch);
  void NextLine();

  ScreenCells cells_{};
  RowSet changed_rows_;
  Colour colour_ = Colour::Normal;
  int x_ = 0;
  int y_ = 0;
};

// The byte a cell shows for `ch`: control characters (and DEL) become '?', so that no byte from a
// file can reach a terminal as a control sequence.
inline char VisibleByte(char ch) {
  const auto byte = static_cast<unsigned char>(ch);
  return (byte < 0x20 || byte == 0x7f) ? '?' : ch;
}
