#pragma once
// The state of the running game and the operations the game loop, the saved game and the
// game-over screen share. Private to the game.

#include "console/console.h"
#include "game/saved_game_format.h"
#include "snake/snake_body.h"

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

// The game as "save.dat" holds it.
SavedGame SavedGameOf(const Game& game);
// Fills `game` (freshly made) from "save.dat"; false when the file is missing or damaged.
bool LoadSavedGame(Game& game);
bool WriteSavedGame(const Game& game);
// The dialog of the key S: saves on Y, not on Esc.
void ShowSaveDialog(const Game& game);
