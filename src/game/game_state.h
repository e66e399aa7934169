#pragma once
// The state of the running game and the operations the game loop, the saved game and the
// game-over screen share. Private to the game.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "snake/snake_body.h"

inline constexpr int kStartDelayMs = 100;
inline constexpr int kPlayfieldCells = 98 * 38;
// The largest "save.dat" the game reads, and so the largest it writes. U grows the snake without
// end, past the playfield's cells; a snake of about 170,000 nodes fills this much.
inline constexpr std::size_t kLargestSaveFile = 1 << 20;

inline bool InPlayfield(Point cell) {
  return cell.x >= kPlayfieldLeft && cell.x <= kPlayfieldRight && cell.y >= kPlayfieldTop &&
         cell.y <= kPlayfieldBottom;
}

struct Game {
  SnakeBody snake;
  Point food;
  int score = 0;
  int delay_ms = kStartDelayMs;
  // Set when the snake covers every playfield cell and no food can be placed: the game is over.
  bool board_full = false;
};

// Chooses a free playfield cell for the food with the standard random generator, x drawn before
// y, again and again until the cell is off the body. False when the body covers every cell.
bool PlaceFood(Game& game);
// One point more; every tenth point makes the game faster while it is slower than 10 ms a tick.
void AddPoint(Game& game);
// Blanks the upper section of the side panel.
void ClearSidePanel();

// Marks the snake red, shows the final score, raises and stores the best score, waits for a key.
void ShowGameOver(Game& game);

// What a "save.dat" holds, once read and checked.
struct SavedGame {
  Direction direction = kRight;
  std::vector<Point> body;    // head first, the trailing node not included
  std::optional<Point> food;  // empty when the file holds no usable food cell
  int score = 0;
  int delay_ms = kStartDelayMs;
};

std::string FormatSavedGame(const Game& game);
// The game in `text`, or nothing when the text is damaged.
std::optional<SavedGame> ParseSavedGame(std::string_view text);
// Fills `game` (freshly made) from "save.dat"; false when the file is missing or damaged.
bool LoadSavedGame(Game& game);
bool WriteSavedGame(const Game& game);
// The dialog of the key S: saves on Y, not on Esc.
void ShowSaveDialog(const Game& game);
