#pragma once
// The text of "save.dat", read and written; nothing here touches a file or the screen.
//
//   [snake info]
//   direction length
//   x y               one line for each body node, head first
//   [food info]
//   x y
//   [game info]
//   score delay_ms

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "snake/snake_body.h"

// Every game starts at this pace; a saved game that does not say its pace gets it too.
inline constexpr int kStartDelayMs = 100;
// The largest "save.dat" the game reads, and so the largest it writes. U grows the snake without
// end, past the playfield's cells; a snake of about 170,000 nodes fills this much.
inline constexpr std::size_t kLargestSaveFile = 1 << 20;

// What a "save.dat" holds, once read and checked.
struct SavedGame {
  Direction direction = kRight;
  std::vector<Point> body;    // head first, the trailing node not included
  std::optional<Point> food;  // empty when the file holds no usable food cell
  int score = 0;
  int delay_ms = kStartDelayMs;
};

// The game in `text`, or nothing when the text is damaged.
std::optional<SavedGame> ParseSavedGame(std::string_view text);
std::string FormatSavedGame(const SavedGame& game);
