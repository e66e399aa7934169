#include "platform/vt/frame_encoder.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/changed_spans.h"

namespace {

using Pen = FrameEncoder::Pen;
using Position = FrameEncoder::Position;

// Every repaint starts from a known colour on the black background. Later colour changes set the
// foreground only, so the background stays black: a clear and a blank cell always show black.
constexpr std::string_view kRepaintStart = "\x1b[0;37;40m\x1b[2J";
constexpr Colour kRepaintColour = Colour::Normal;
constexpr std::string_view kClearScreen = "\x1b[2J";
// Up to this many steps to the left, backspaces are no longer than ESC [ n D.
constexpr int kMostBackspaces = 3;

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

void AppendGlyph(std::string& out, char ch, Glyphs glyphs) {
  const auto byte = static_cast<unsigned char>(ch);
  if (byte < 0x80 || glyphs == Glyphs::kAscii) {
    out += byte < 0x80 ? ch : '?';
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

// A control sequence with a count, which terminals take as 1 when it is left out.
void AppendCountedSequence(std::string& out, int count, char final_byte) {
  out += "\x1b[";
  if (count != 1) out += std::to_string(count);
  out += final_byte;
}

struct Drawing {
  std::string bytes;
  Pen pen;
};

// Draws spans one after another and keeps count of where the terminal's cursor stands and which
// colour it writes in.
class SpanWriter {
 public:
  SpanWriter(const ScreenCells& wanted, const Pen& pen, Glyphs glyphs, Position origin)
      : wanted_(wanted), glyphs_(glyphs), origin_(origin), drawing_{{}, pen} {}

  void Write(const Span& span) {
    MoveTo({span.x, span.y});
    Pen& pen = drawing_.pen;
    if (span.colour && span.colour != pen.colour) {
      drawing_.bytes += "\x1b[";
      drawing_.bytes += std::to_string(AnsiForeground(*span.colour));
      drawing_.bytes += 'm';
      pen.colour = span.colour;
    }
    const Cell* const first =
        wanted_.data() + static_cast<std::ptrdiff_t>(span.y) * kScreenWidth + span.x;
    for (const Cell* cell = first; cell != first + span.length; ++cell) {
      AppendGlyph(drawing_.bytes, cell->ch, glyphs_);
    }
    // After the last column terminals differ: some wait to wrap, some have wrapped already.
    const int end = span.x + span.length;
    pen.cursor = end < kScreenWidth ? std::optional(Position{end, span.y}) : std::nullopt;
  }

  Drawing Take() { return std::move(drawing_); }

 private:
  // Along the row from where the cursor stands: a carriage return to the first column, a few
  // backspaces to the left, or else a counted move. To another row: a counted move up or down and
  // then the same, or straight to the cell when that is shorter or the cursor's place is unknown.
  void MoveTo(Position target) {
    const std::optional<Position>& cursor = drawing_.pen.cursor;
    if (cursor == target) return;
    std::string relative;
    if (cursor) {
      const int down = target.y - cursor->y;
      if (down != 0) AppendCountedSequence(relative, down > 0 ? down : -down, down > 0 ? 'B' : 'A');
      const int left = cursor->x - target.x;
      // A carriage return goes to the terminal's first column, the screen's only when it is there.
      if (target.x == 0 && left > 0 && origin_.x == 0) {
        relative += '\r';
      } else if (left > 0 && left <= kMostBackspaces) {
        relative.append(static_cast<std::size_t>(left), '\b');
      } else if (left != 0) {
        AppendCountedSequence(relative, left > 0 ? left : -left, left > 0 ? 'D' : 'C');
      }
      if (down == 0) {
        drawing_.bytes += relative;
        return;
      }
    }
    const int x = origin_.x + target.x;
    const int y = origin_.y + target.y;
    std::string absolute = "\x1b[";
    if (x != 0 || y != 0) absolute += std::to_string(y + 1);
    if (x != 0) absolute += ';' + std::to_string(x + 1);
    absolute += 'H';
    drawing_.bytes += cursor && relative.size() < absolute.size() ? relative : absolute;
  }

  const ScreenCells& wanted_;
  Glyphs glyphs_;
  Position origin_;
  Drawing drawing_;
};

// Draws what differs between `shown` and `wanted` in `rows`: span after span in row order, or
// one colour after another beginning with the terminal's own, whichever takes fewer bytes.
Drawing DrawChanges(const ScreenCells& shown, const ScreenCells& wanted, ScreenModel::RowSet rows,
                    const Pen& pen, Glyphs glyphs, Position origin) {
  std::vector<Span> spans = ChangedSpans(shown, wanted, rows);
  const auto draw = [&] {
    SpanWriter writer(wanted, pen, glyphs, origin);
    for (const Span& span : spans) writer.Write(span);
    return writer.Take();
  };
  Drawing in_rows = draw();
  // Blanks need no colour and go with the terminal's.
  const auto rank = [&](const Span& span) {
    return !span.colour || span.colour == pen.colour ? -1 : static_cast<int>(*span.colour);
  };
  const auto before = [&](const Span& a, const Span& b) { return rank(a) < rank(b); };
  if (std::is_sorted(spans.begin(), spans.end(), before)) return in_rows;
  std::stable_sort(spans.begin(), spans.end(), before);
  Drawing in_colours = draw();
  return in_colours.bytes.size() < in_rows.bytes.size() ? std::move(in_colours)
                                                        : std::move(in_rows);
}

}  // namespace

std::string FrameEncoder::Encode(const ScreenModel& desired, ScreenModel::RowSet rows, bool bell) {
  std::string out;
  const bool repaint = !screen_known_;
  if (repaint) {
    out = kRepaintStart;
    shown_.fill(Cell{});
    pen_ = Pen{std::nullopt, kRepaintColour};
    screen_known_ = true;
    rows.set();
  }
  Drawing drawing = DrawChanges(shown_, desired.cells(), rows, pen_, glyphs_, origin_);
  // Clearing first pays when most of what is shown goes. Only a frame longer than a row is weighed
  // against it, which spares a second drawing every tick.
  if (!repaint && drawing.bytes.size() > kScreenWidth) {
    static const ScreenCells blank{};
    rows.set();
    Drawing redrawn =
        DrawChanges(blank, desired.cells(), rows, Pen{std::nullopt, pen_.colour}, glyphs_, origin_);
    if (kClearScreen.size() + redrawn.bytes.size() < drawing.bytes.size()) {
      out = kClearScreen;
      drawing = std::move(redrawn);
    }
  }
  out += drawing.bytes;
  pen_ = drawing.pen;
  if (bell) out += '\a';
  CopyRows(shown_, desired.cells(), rows);
  return out;
}
