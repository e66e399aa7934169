#pragma once
// A terminal as the frame encoder's bytes leave it: its cells with their glyphs and colours, the
// cursor, the pen and the bells rung. It knows only what the encoder may send and complains about
// anything else, so that a stray or malformed byte fails the frame that carried it. Plain C++, so
// that the tests and the fuzz targets of every build share it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/screen_model.h"
#include "platform/vt/frame_encoder.h"

class VtScreen {
 public:
  // A terminal of `width` by `height` cells that shows whatever it showed before the game.
  explicit VtScreen(Glyphs glyphs = Glyphs::kUtf8, int width = kScreenWidth,
                    int height = kScreenHeight);

  // Reads `bytes` as the terminal would. Empty when it understood them all; otherwise what it
  // did not understand and where, and the bytes after it are left unread.
  std::string Read(std::string_view bytes);
  // Where the terminal shows other than `screen` with its top-left cell at `origin`, and blanks
  // on black around it; empty when it shows just that. A blank cell shows no colour.
  std::string Difference(const ScreenModel& screen, FrameEncoder::Position origin = {}) const;
  int bells() const { return bells_; }

 private:
  // The pen's colours; none for the terminal's own, which are not known.
  struct Pen {
    std::optional<Colour> foreground;
    bool on_black = false;
  };
  struct Shown {
    char ch = '\0';  // the game's byte for the glyph; '\0' for what stood there before the game
    Pen pen;
  };

  std::string ReadOne(std::string_view bytes, std::size_t& at);
  std::string ReadSequence(std::string_view bytes, std::size_t& at);
  std::string ReadGlyph(std::string_view bytes, std::size_t& at);
  std::string Put(char ch);
  std::string MoveBy(int right, int down);
  std::string SetColours(const std::vector<int>& parameters);

  Glyphs glyphs_;
  int width_;
  int height_;
  std::vector<Shown> cells_;
  // None where terminals differ, as after the last column, or before anything placed it.
  std::optional<FrameEncoder::Position> cursor_;
  Pen pen_;
  int bells_ = 0;
};
