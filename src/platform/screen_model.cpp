#include "platform/screen_model.h"

namespace {
constexpr int kTabWidth = 8;
}

void ScreenModel::MoveCursor(int x, int y) {
  if (x < 0 || x >= kScreenWidth || y < 0 || y >= kScreenHeight) return;
  x_ = x;
  y_ = y;
}

bool ScreenModel::Write(char ch) {
  switch (ch) {
    case '\a':
      return true;
    case '\n':
      if (y_ < kScreenHeight) NextLine();
      return false;
    case '\t':
      do Fill(' ');
      while (y_ < kScreenHeight && x_ % kTabWidth != 0);
      return false;
    default:
      Fill(VisibleByte(ch));
      return false;
  }
}

void ScreenModel::Fill(char ch) {
  if (y_ >= kScreenHeight) return;  // past the last row: nothing scrolls, the text is dropped
  Cell& cell = cells_[Index(x_, y_)];
  const Cell written{ch, colour_};
  if (cell != written) {
    cell = written;
    changed_rows_.set(static_cast<std::size_t>(y_));
  }
  if (++x_ == kScreenWidth) NextLine();
}

void ScreenModel::NextLine() {
  x_ = 0;
  ++y_;
}

void ScreenModel::Clear() {
  cells_.fill(Cell{' ', Colour::Normal});
  changed_rows_.set();
  x_ = 0;
  y_ = 0;
}

std::string ScreenModel::Row(int y) const {
  std::string row(kScreenWidth, ' ');
  for (int x = 0; x < kScreenWidth; ++x) row[x] = At(x, y).ch;
  return row;
}
