#pragma once
// Turns the screen the game wants into the bytes that make a terminal show it. The encoder keeps
// its own picture of what the terminal shows (cells, cursor, colour) and sends only what differs,
// because every byte counts on a slow link and a snake tick changes only a handful of cells.

#include <optional>
#include <string>

#include "platform/screen_model.h"

// How the bytes from 128 up are shown: as their code page 437 glyphs in UTF-8, or as '?' on a
// terminal that does not take UTF-8, where some of those bytes would be read as controls.
enum class Glyphs { kUtf8, kAscii };

class FrameEncoder {
 public:
  explicit FrameEncoder(Glyphs glyphs = Glyphs::kUtf8) : glyphs_(glyphs) {}

  // The bytes that turn what the terminal shows into `desired`, followed by one BEL when `bell`
  // (however many rang since the last frame). Empty when nothing changed and no bell rang. Only
  // `rows` are looked at: elsewhere the terminal shows `desired` already.
  std::string Encode(const ScreenModel& desired, ScreenModel::RowSet rows, bool bell);
  // Forgets what the terminal shows: the next Encode sets the colours, clears and draws it all.
  // For a terminal that was resized, suspended or drawn on by someone else.
  void ForgetScreen() { screen_known_ = false; }
  bool ScreenKnown() const { return screen_known_; }

  struct Position {
    int x = 0;
    int y = 0;
    bool operator==(const Position&) const = default;
  };
  // Where the top-left cell of the game's screen stands in the terminal; (0, 0) unless the
  // terminal is larger. A new place is drawn whole.
  void PlaceAt(Position origin) {
    if (origin != origin_) ForgetScreen();
    origin_ = origin;
  }
  // Where the terminal's cursor stands and which colour it writes in, as far as the encoder knows.
  struct Pen {
    std::optional<Position> cursor;
    std::optional<Colour> colour;
  };

 private:
  ScreenCells shown_{};
  Pen pen_;
  Glyphs glyphs_;
  Position origin_;
  bool screen_known_ = false;
};
