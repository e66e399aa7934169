#include "console/protocol/frame_encoder.h"

#include <algorithm>
#include <string_view>
#include <utility>
#include <vector>

namespace {

using Grid = FrameEncoder::Grid;
using Pen = FrameEncoder::Pen;
using Position = FrameEncoder::Position;

// Every repaint starts from a known colour on the black background. Later colour changes set the
// foreground only, so the background stays black: a clear and a blank cell always show black.
constexpr std::string_view kRepaintStart = "\x1b[0;37;40m\x1b[2J";
constexpr Colour kRepaintColour = Colour::Normal;
constexpr std::string_view kClearScreen = "\x1b[2J";

// Searching for the cheapest order is for the small frames of a game tick; larger frames are
// drawn row by row or one colour after another, whichever is shorter.
constexpr std::size_t kMostCellsToSearch = 32;
constexpr std::size_t kMostColoursForEveryOrder = 4;

// The glyphs of code page 437 for the bytes 128..255, as Unicode code points.
constexpr std::array<char16_t, 128> kCodePage437 = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7,  // Çüéâäàåç
    0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE, 0x00EC, 0x00C4, 0x00C5,  // êëèïîìÄÅ
    0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9,  // ÉæÆôöòûù
    0x00FF, 0x00D6, 0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192,  // ÿÖÜ¢£¥₧ƒ
    0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA, 0x00BA,  // áíóúñÑªº
    0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB,  // ¿⌐¬½¼¡«»
    0x2591, 0x2592, 0x2593, 0x2502, 0x2524, 0x2561, 0x2562, 0x2556,  // ░▒▓│┤╡╢╖
    0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510,  // ╕╣║╗╝╜╛┐
    0x2514, 0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F,  // └┴┬├─┼╞╟
    0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550, 0x256C, 0x2567,  // ╚╔╩╦╠═╬╧
    0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B,  // ╨╤╥╙╘╒╓╫
    0x256A, 0x2518, 0x250C, 0x2588, 0x2584, 0x258C, 0x2590, 0x2580,  // ╪┘┌█▄▌▐▀
    0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,  // αßΓπΣσµτ
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229,  // ΦΘΩδ∞φε∩
    0x2261, 0x00B1, 0x2265, 0x2264, 0x2320, 0x2321, 0x00F7, 0x2248,  // ≡±≥≤⌠⌡÷≈
    0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,  // °∙·√ⁿ²■ and no-break space
};

Cell Visible(Cell cell) {
  cell.ch = VisibleByte(cell.ch);
  return cell;
}

bool IsBlank(const Cell& cell) {
  return cell.ch == ' ';
}

// A blank shows only the black background, whatever colour it was written in.
bool LooksAlike(const Cell& a, const Cell& b) {
  return a.ch == b.ch && (IsBlank(a) || a.colour == b.colour);
}

// How many bytes a cell's glyph takes: one, or two or three in UTF-8.
std::size_t GlyphLength(char ch, Glyphs glyphs) {
  const auto byte = static_cast<unsigned char>(VisibleByte(ch));
  if (byte < 0x80 || glyphs == Glyphs::kAscii) return 1;
  return kCodePage437[byte - 0x80] < 0x800 ? 2 : 3;
}

void AppendGlyph(std::string& out, char ch, Glyphs glyphs) {
  const auto byte = static_cast<unsigned char>(VisibleByte(ch));
  if (byte < 0x80 || glyphs == Glyphs::kAscii) {
    out += byte < 0x80 ? static_cast<char>(byte) : '?';
    return;
  }
  const unsigned point = kCodePage437[byte - 0x80];
  if (point < 0x800) {
    out += static_cast<char>(0xc0 | (point >> 6));
  } else {
    out += static_cast<char>(0xe0 | (point >> 12));
    out += static_cast<char>(0x80 | ((point >> 6) & 0x3f));
  }
  out += static_cast<char>(0x80 | (point & 0x3f));
}

// The console's attribute bits are blue 1, green 2, red 4 and bright 8; ANSI counts red 1,
// green 2 and blue 4 up from 30, or from 90 for the bright colours.
int AnsiForeground(Colour colour) {
  const auto bits = static_cast<unsigned>(colour);
  const int base = (bits & 8) != 0 ? 90 : 30;
  return base + ((bits & 4) != 0 ? 1 : 0) + ((bits & 2) != 0 ? 2 : 0) + ((bits & 1) != 0 ? 4 : 0);
}

// The colour changes all take five bytes: ESC [ 3x m or ESC [ 9x m.
constexpr std::size_t kColourChangeLength = 5;

void AppendColourChange(std::string& out, Colour colour) {
  out += "\x1b[";
  out += std::to_string(AnsiForeground(colour));
  out += 'm';
}

std::size_t DigitsOf(int number) {
  std::size_t digits = 1;
  for (; number >= 10; number /= 10) ++digits;
  return digits;
}

// A control sequence with a count, which terminals take as 1 when it is left out.
std::size_t CountedSequenceLength(int count) {
  return count == 1 ? 3 : 3 + DigitsOf(count);
}

void AppendCountedSequence(std::string& out, int count, char final_byte) {
  out += "\x1b[";
  if (count != 1) out += std::to_string(count);
  out += final_byte;
}

// The move to a cell of the game's screen, whose top-left cell stands at `origin` in the terminal.
std::size_t CursorToLength(Position target, Position origin) {
  const int x = origin.x + target.x;
  const int y = origin.y + target.y;
  if (x == 0 && y == 0) return 3;
  if (x == 0) return 3 + DigitsOf(y + 1);
  return 4 + DigitsOf(y + 1) + DigitsOf(x + 1);
}

void AppendCursorTo(std::string& out, Position target, Position origin) {
  const int x = origin.x + target.x;
  const int y = origin.y + target.y;
  out += "\x1b[";
  if (x != 0 || y != 0) out += std::to_string(y + 1);
  if (x != 0) {
    out += ';';
    out += std::to_string(x + 1);
  }
  out += 'H';
}

std::size_t VerticalMoveLength(int rows) {
  return rows == 0 ? 0 : CountedSequenceLength(rows > 0 ? rows : -rows);
}

void AppendVerticalMove(std::string& out, int rows) {
  if (rows > 0) AppendCountedSequence(out, rows, 'B');
  if (rows < 0) AppendCountedSequence(out, -rows, 'A');
}

// Writes chosen cells one after another, reaching each by the cheapest way from where the cursor
// stands, and keeps count of what the terminal's cursor and colour have become.
class CellWriter {
 public:
  CellWriter(const Grid& desired, const Pen& pen, Glyphs glyphs, Position origin)
      : desired_(desired), pen_(pen), glyphs_(glyphs), origin_(origin) {}

  // The bytes that writing the cell at `index` would take now.
  std::size_t CostOf(int index) const {
    const Cell& cell = desired_[static_cast<std::size_t>(index)];
    const bool recolour = !IsBlank(cell) && pen_.colour != cell.colour;
    return ChooseMove(PositionOf(index)).length + (recolour ? kColourChangeLength : 0);
  }

  void Write(int index) {
    const Position target = PositionOf(index);
    AppendMove(ChooseMove(target), target);
    const Cell& cell = desired_[static_cast<std::size_t>(index)];
    if (!IsBlank(cell) && pen_.colour != cell.colour) {
      AppendColourChange(bytes_, cell.colour);
      pen_.colour = cell.colour;
    }
    AppendGlyph(bytes_, cell.ch, glyphs_);
    // After the last column terminals differ: some wait to wrap, some have wrapped already.
    if (target.x + 1 < kScreenWidth) {
      pen_.cursor = Position{target.x + 1, target.y};
    } else {
      pen_.cursor.reset();
    }
  }

  std::string& bytes() { return bytes_; }
  const Pen& pen() const { return pen_; }

 private:
  static Position PositionOf(int index) { return {index % kScreenWidth, index / kScreenWidth}; }

  // The ways to the next cell: none, straight there, from where the cursor stands, or from the
  // terminal's first column after a carriage return. Each is weighed by its length alone and only
  // the shortest is spelt out, as the search for the cheapest order weighs many.
  enum class Route { kStay, kCursorTo, kFromCursor, kFromFirstColumn };
  struct Move {
    Route route;
    std::size_t length;
  };

  Move ChooseMove(Position target) const {
    if (pen_.cursor == target) return {Route::kStay, 0};
    Move best{Route::kCursorTo, CursorToLength(target, origin_)};
    if (!pen_.cursor) return best;
    const Position from = *pen_.cursor;
    const std::size_t vertical = VerticalMoveLength(target.y - from.y);
    const std::size_t relative = vertical + HorizontalMoveLength(from.x, target);
    if (relative < best.length) best = {Route::kFromCursor, relative};
    // A carriage return goes to the terminal's first column, the screen's only when it is there.
    if (from.x != 0 && origin_.x == 0) {
      const std::size_t returned = 1 + vertical + HorizontalMoveLength(0, target);
      if (returned < best.length) best = {Route::kFromFirstColumn, returned};
    }
    return best;
  }

  void AppendMove(Move move, Position target) {
    switch (move.route) {
      case Route::kStay:
        return;
      case Route::kCursorTo:
        AppendCursorTo(bytes_, target, origin_);
        return;
      case Route::kFromCursor:
        AppendVerticalMove(bytes_, target.y - pen_.cursor->y);
        AppendHorizontalMove(pen_.cursor->x, target);
        return;
      case Route::kFromFirstColumn:
        bytes_ += '\r';
        AppendVerticalMove(bytes_, target.y - pen_.cursor->y);
        AppendHorizontalMove(0, target);
        return;
    }
  }

  // From column `from_x` to the target on the target's row: backspaces or ESC [ n D to the left;
  // to the right ESC [ n C, or the cells in between typed again when that is shorter.
  std::size_t HorizontalMoveLength(int from_x, Position target) const {
    const int distance = target.x - from_x;
    if (distance == 0) return 0;
    if (distance < 0) return std::min<std::size_t>(-distance, CountedSequenceLength(-distance));
    const std::size_t forward = CountedSequenceLength(distance);
    return std::min(forward, RetypeLength(target.y, from_x, target.x, forward));
  }

  void AppendHorizontalMove(int from_x, Position target) {
    const int distance = target.x - from_x;
    if (distance == 0) return;
    if (distance < 0) {
      const auto steps = static_cast<std::size_t>(-distance);
      if (steps < CountedSequenceLength(-distance)) {
        bytes_.append(steps, '\b');  // a backspace is a one-byte step to the left
      } else {
        AppendCountedSequence(bytes_, -distance, 'D');
      }
      return;
    }
    const std::size_t forward = CountedSequenceLength(distance);
    if (RetypeLength(target.y, from_x, target.x, forward) < forward) {
      for (int x = from_x; x < target.x; ++x) {
        AppendGlyph(bytes_, desired_[static_cast<std::size_t>(target.y * kScreenWidth + x)].ch,
                    glyphs_);
      }
    } else {
      AppendCountedSequence(bytes_, distance, 'C');
    }
  }

  // Writing the cells from `from_x` up to `to_x` as they are wanted moves the cursor too, and is
  // right whatever they show now, as long as none needs another colour. Its length when that is
  // possible in fewer than `limit` bytes, else `limit`.
  std::size_t RetypeLength(int row, int from_x, int to_x, std::size_t limit) const {
    std::size_t length = 0;
    for (int x = from_x; x < to_x; ++x) {
      const Cell& cell = desired_[static_cast<std::size_t>(row * kScreenWidth + x)];
      if (!IsBlank(cell) && pen_.colour != cell.colour) return limit;
      length += GlyphLength(cell.ch, glyphs_);
      if (length >= limit) return limit;
    }
    return length;
  }

  const Grid& desired_;
  Pen pen_;
  Glyphs glyphs_;
  Position origin_;
  std::string bytes_;
};

struct Drawing {
  std::string bytes;
  Pen pen;
};

// Groups of cells drawn one group after another, each in row order.
using Passes = std::vector<std::vector<int>>;

// Draws the passes in turn. With `cheapest_first`, each small pass is drawn by taking next the
// cell that costs the fewest bytes to write from where the last one left the cursor.
Drawing DrawPasses(const Grid& desired, const Pen& pen, Glyphs glyphs, Position origin,
                   Passes passes, bool cheapest_first) {
  CellWriter writer(desired, pen, glyphs, origin);
  for (std::vector<int>& pass : passes) {
    if (!cheapest_first || pass.size() > kMostCellsToSearch) {
      for (int index : pass) writer.Write(index);
      continue;
    }
    while (!pass.empty()) {
      auto next = pass.begin();
      std::size_t cheapest = writer.CostOf(*next);
      for (auto other = next + 1; other != pass.end(); ++other) {
        const std::size_t cost = writer.CostOf(*other);
        if (cost < cheapest) {
          cheapest = cost;
          next = other;
        }
      }
      writer.Write(*next);
      pass.erase(next);
    }
  }
  return {std::move(writer.bytes()), writer.pen()};
}

// The changed cells one colour after another; blanks need no colour and go with the first.
Passes InColourPasses(const std::vector<int>& changed, const Grid& desired,
                      const std::vector<Colour>& colours) {
  Passes passes(colours.size());
  for (int index : changed) {
    const Cell& cell = desired[static_cast<std::size_t>(index)];
    for (std::size_t pass = 0; pass < colours.size(); ++pass) {
      if (IsBlank(cell) ? pass == 0 : cell.colour == colours[pass]) passes[pass].push_back(index);
    }
  }
  return passes;
}

// Draws the cells of `desired` that differ from `shown`, looking only in `rows`, in the order that
// costs the fewest bytes.
Drawing DrawChanges(const Grid& shown, const Grid& desired, const Pen& pen, Glyphs glyphs,
                    Position origin, const ScreenModel::RowSet& rows) {
  std::vector<int> changed;
  std::vector<Colour> colours;
  for (int y = 0; y < kScreenHeight; ++y) {
    if (!rows.test(static_cast<std::size_t>(y))) continue;
    for (int index = y * kScreenWidth; index < (y + 1) * kScreenWidth; ++index) {
      const Cell& cell = desired[static_cast<std::size_t>(index)];
      if (LooksAlike(shown[static_cast<std::size_t>(index)], cell)) continue;
      changed.push_back(index);
      if (!IsBlank(cell) &&
          std::find(colours.begin(), colours.end(), cell.colour) == colours.end()) {
        colours.push_back(cell.colour);
      }
    }
  }
  const bool small = changed.size() <= kMostCellsToSearch;
  Drawing best = DrawPasses(desired, pen, glyphs, origin, {changed}, false);
  const auto consider = [&](Passes passes) {
    Drawing drawing = DrawPasses(desired, pen, glyphs, origin, std::move(passes), true);
    if (drawing.bytes.size() < best.bytes.size()) best = std::move(drawing);
  };
  if (small) consider({changed});
  if (colours.size() < 2) return best;

  if (small && colours.size() <= kMostColoursForEveryOrder) {
    std::sort(colours.begin(), colours.end());
    do consider(InColourPasses(changed, desired, colours));
    while (std::next_permutation(colours.begin(), colours.end()));
  } else {
    std::stable_partition(colours.begin(), colours.end(),
                          [&](Colour colour) { return pen.colour == colour; });
    consider(InColourPasses(changed, desired, colours));
  }
  return best;
}

std::size_t NonBlankCells(const Grid& grid, const ScreenModel::RowSet& rows) {
  std::size_t count = 0;
  for (int y = 0; y < kScreenHeight; ++y) {
    if (!rows.test(static_cast<std::size_t>(y))) continue;
    const auto row = grid.begin() + y * kScreenWidth;
    count += static_cast<std::size_t>(
        std::count_if(row, row + kScreenWidth, [](const Cell& cell) { return !IsBlank(cell); }));
  }
  return count;
}

}  // namespace

std::string FrameEncoder::Encode(ScreenModel& desired, bool bell) {
  // Outside the rows that changed, what the terminal shows is already what is wanted.
  ScreenModel::RowSet rows = desired.TakeChangedRows();
  std::string out;
  const bool repaint = !screen_known_;
  if (repaint) {
    out = kRepaintStart;
    shown_.fill(Cell{});
    pen_ = Pen{std::nullopt, kRepaintColour};
    screen_known_ = true;
    rows.set();
  }
  for (int y = 0; y < kScreenHeight; ++y) {
    if (!rows.test(static_cast<std::size_t>(y))) continue;
    for (int x = 0; x < kScreenWidth; ++x) {
      wanted_[static_cast<std::size_t>(y * kScreenWidth + x)] = Visible(desired.At(x, y));
    }
  }

  Drawing drawing = DrawChanges(shown_, wanted_, pen_, glyphs_, origin_, rows);
  // Clearing first pays when most of what is shown goes; every cell still to draw costs a byte.
  // The changed rows alone give a lower bound that spares counting the whole screen every tick.
  // A repaint has just cleared the screen.
  const ScreenModel::RowSet all_rows = ScreenModel::RowSet{}.set();
  if (!repaint && drawing.bytes.size() > kClearScreen.size() + NonBlankCells(wanted_, rows) &&
      drawing.bytes.size() > kClearScreen.size() + NonBlankCells(wanted_, all_rows)) {
    static const Grid blank{};
    Drawing redrawn =
        DrawChanges(blank, wanted_, Pen{std::nullopt, pen_.colour}, glyphs_, origin_, all_rows);
    if (kClearScreen.size() + redrawn.bytes.size() < drawing.bytes.size()) {
      redrawn.bytes.insert(0, kClearScreen);
      drawing = std::move(redrawn);
    }
  }
  out += drawing.bytes;
  pen_ = drawing.pen;
  if (bell) out += '\a';
  for (int y = 0; y < kScreenHeight; ++y) {
    if (!rows.test(static_cast<std::size_t>(y))) continue;
    const auto row = wanted_.begin() + y * kScreenWidth;
    std::copy(row, row + kScreenWidth, shown_.begin() + y * kScreenWidth);
  }
  return out;
}
