#include "support/vt_screen.h"

#include <cstdio>

namespace {

// The glyphs of code page 437 for the bytes 128..255, in order.
constexpr std::u16string_view kCodePage437 =
    u"ÇüéâäàåçêëèïîìÄÅÉæÆôöòûùÿÖÜ¢£¥₧ƒáíóúñÑªº¿⌐¬½¼¡«»░▒▓│┤╡╢╖╕╣║╗╝╜╛┐"
    u"└┴┬├─┼╞╟╚╔╩╦╠═╬╧╨╤╥╙╘╒╓╫╪┘┌█▄▌▐▀αßΓπΣσµτΦΘΩδ∞φε∩≡±≥≤⌠⌡÷≈°∙·√ⁿ²■\u00a0";
static_assert(kCodePage437.size() == 128);

// The foregrounds the game's colours are sent as.
constexpr struct {
  int sgr;
  Colour colour;
} kForegrounds[] = {
    {31, Colour::Red},          {32, Colour::Green},      {37, Colour::Normal},
    {90, Colour::DarkGrey},     {92, Colour::LightGreen}, {94, Colour::LightBlue},
    {95, Colour::LightMagenta}, {96, Colour::LightCyan},
};

constexpr int kDefault = -1;  // a parameter left out

std::string Hex(unsigned value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%02x", value);
  return text;
}

std::string Describe(const std::optional<Colour>& colour) {
  return colour ? std::to_string(static_cast<int>(*colour)) : "the terminal's own";
}

}  // namespace

VtScreen::VtScreen(Glyphs glyphs, int width, int height)
    : glyphs_(glyphs),
      width_(width),
      height_(height),
      cells_(static_cast<std::size_t>(width) * height) {}

std::string VtScreen::Read(std::string_view bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const std::size_t start = at;
    const std::string fault = ReadOne(bytes, at);
    if (!fault.empty()) return fault + " at byte " + std::to_string(start);
  }
  return "";
}

std::string VtScreen::ReadOne(std::string_view bytes, std::size_t& at) {
  const auto byte = static_cast<unsigned char>(bytes[at]);
  if (byte >= 0x20 && byte < 0x7f) {
    ++at;
    return Put(static_cast<char>(byte));
  }
  if (byte >= 0x80) return ReadGlyph(bytes, at);
  ++at;
  switch (byte) {
    case 0x1b:
      return ReadSequence(bytes, at);
    case '\a':
      ++bells_;
      return "";
    case '\r':
      return cursor_ ? MoveBy(-cursor_->x, 0) : "a carriage return from nowhere known";
    case '\b':
      return MoveBy(-1, 0);
    default:
      return "the control byte " + Hex(byte);
  }
}

// ESC [, parameters of digits parted by ';', and the final byte: a cursor move (A B C D H), the
// clear (J) or colours (m).
std::string VtScreen::ReadSequence(std::string_view bytes, std::size_t& at) {
  if (at == bytes.size() || bytes[at] != '[') return "an ESC that begins no control sequence";
  std::vector<int> parameters{kDefault};
  for (++at; at < bytes.size(); ++at) {
    const char ch = bytes[at];
    if (ch == ';') {
      parameters.push_back(kDefault);
    } else if (ch >= '0' && ch <= '9') {
      int& parameter = parameters.back();
      parameter = (parameter == kDefault ? 0 : parameter * 10) + (ch - '0');
      if (parameter > 9999) return "a parameter too large";
    } else {
      break;
    }
  }
  if (at == bytes.size()) return "a control sequence cut short";
  const char final_byte = bytes[at++];
  if (final_byte == 'm') return SetColours(parameters);
  for (int& parameter : parameters) {
    if (parameter == 0) return "a count or place of 0, which terminals take as 1";
    if (parameter == kDefault) parameter = 1;
  }
  const int count = parameters[0];
  const bool one = parameters.size() == 1;
  switch (final_byte) {
    case 'A':
      return one ? MoveBy(0, -count) : "ESC [ A with two parameters";
    case 'B':
      return one ? MoveBy(0, count) : "ESC [ B with two parameters";
    case 'C':
      return one ? MoveBy(count, 0) : "ESC [ C with two parameters";
    case 'D':
      return one ? MoveBy(-count, 0) : "ESC [ D with two parameters";
    case 'H':
      if (parameters.size() > 2) return "ESC [ H with three parameters";
      cursor_ = FrameEncoder::Position{parameters.size() == 2 ? parameters[1] - 1 : 0, count - 1};
      return cursor_->x < width_ && cursor_->y < height_ ? "" : "ESC [ H off the terminal";
    case 'J':
      if (!one || count != 2) return "an erase other than the whole screen";
      // Terminals clear to the pen's background; the cursor stays.
      for (Shown& cell : cells_) cell = Shown{' ', pen_};
      return "";
    default:
      return std::string("the control sequence ending in ") + final_byte;
  }
}

std::string VtScreen::SetColours(const std::vector<int>& parameters) {
  for (const int parameter : parameters) {
    if (parameter == kDefault || parameter == 0) {
      pen_ = Pen{};
      continue;
    }
    if (parameter == 40) {
      pen_.on_black = true;
      continue;
    }
    bool known = false;
    for (const auto& [sgr, colour] : kForegrounds) {
      if (sgr == parameter) {
        pen_.foreground = colour;
        known = true;
      }
    }
    if (!known) return "the graphic rendition " + std::to_string(parameter);
  }
  return "";
}

// UTF-8 of two or three bytes for a glyph of code page 437; no byte from 128 up at all for a
// terminal that does not take UTF-8.
std::string VtScreen::ReadGlyph(std::string_view bytes, std::size_t& at) {
  const auto lead = static_cast<unsigned char>(bytes[at++]);
  if (glyphs_ == Glyphs::kAscii) return "the byte " + Hex(lead) + " on a terminal without UTF-8";
  const int length = (lead & 0xe0) == 0xc0 ? 2 : (lead & 0xf0) == 0xe0 ? 3 : 0;
  if (length == 0) return "the UTF-8 lead byte " + Hex(lead);
  unsigned point = lead & (length == 2 ? 0x1f : 0x0f);
  for (int i = 1; i < length; ++i, ++at) {
    if (at == bytes.size()) return "a UTF-8 character cut short";
    const auto next = static_cast<unsigned char>(bytes[at]);
    if ((next & 0xc0) != 0x80) return "a UTF-8 character cut short";
    point = point << 6 | (next & 0x3f);
  }
  const std::size_t index = kCodePage437.find(static_cast<char16_t>(point));
  if (point < 0x80 || index == std::u16string_view::npos || (length == 2) != (point < 0x800)) {
    return "the character " + Hex(point) + ", which is no glyph of code page 437";
  }
  return Put(static_cast<char>(0x80 + index));
}

// After the last column terminals differ: some wait to wrap, some have wrapped already.
std::string VtScreen::Put(char ch) {
  if (!cursor_) return "text from nowhere known";
  cells_[cursor_->y * width_ + cursor_->x] = Shown{ch, pen_};
  if (++cursor_->x == width_) cursor_.reset();
  return "";
}

// Terminals stop a move at the edge; the encoder never counts on that.
std::string VtScreen::MoveBy(int right, int down) {
  if (!cursor_) return "a move from nowhere known";
  const int x = cursor_->x + right;
  const int y = cursor_->y + down;
  if (x < 0 || x >= width_ || y < 0 || y >= height_) return "a move past the edge";
  cursor_ = FrameEncoder::Position{x, y};
  return "";
}

std::string VtScreen::Difference(const ScreenModel& screen, FrameEncoder::Position origin) const {
  for (int y = 0; y < height_; ++y) {
    for (int x = 0; x < width_; ++x) {
      const int sx = x - origin.x;
      const int sy = y - origin.y;
      const bool inside = sx >= 0 && sx < kScreenWidth && sy >= 0 && sy < kScreenHeight;
      const Cell wanted = inside ? screen.At(sx, sy) : Cell{};
      const bool high = static_cast<unsigned char>(wanted.ch) >= 0x80;
      const char ch = high && glyphs_ == Glyphs::kAscii ? '?' : wanted.ch;
      const Shown& shown = cells_[y * width_ + x];
      if (shown.ch == ch && shown.pen.on_black &&
          (ch == ' ' || shown.pen.foreground == wanted.colour)) {
        continue;
      }
      return "the terminal's cell (" + std::to_string(x) + ", " + std::to_string(y) + ") shows " +
             Hex(static_cast<unsigned char>(shown.ch)) + " in " + Describe(shown.pen.foreground) +
             (shown.pen.on_black ? "" : " off black") + ", not " +
             Hex(static_cast<unsigned char>(ch)) + " in " + Describe(wanted.colour);
    }
  }
  return "";
}
