// The end of every game played: the red snake, the final score and the best score.

#include "console/console.h"
#include "game/best_score.h"
#include "game/game_state.h"

namespace {

void ShowCannotWriteScore() {
  GotoXY(117, 16);
  SetColour(Colour::Red);
  WriteText("Cannot write the file \"score.dat\" !\a");
  SetColour(Colour::Normal);
}

}  // namespace

void ShowGameOver(Game& game) {
  SetColour(Colour::Red);
  for (Point cell : game.snake.body()) PutCharAt(cell.x, cell.y, '*');
  SetColour(Colour::Normal);
  ClearSidePanel();

  GotoXY(121, 8);
  SetColour(Colour::Red);
  WriteText("GAME OVER !\a");
  SetColour(Colour::Normal);

  const int final_score = game.snake.length() - 2;
  game.score = final_score;
  // Another game may have stored a better score since this one started: then this is no new best.
  const Stored stored =
      final_score > high_score ? StoreBestScore(final_score, high_score) : Stored::kNoNewBest;
  if (stored != Stored::kNoNewBest) {
    GotoXY(117, 13);
    SetColour(Colour::LightGreen);
    WriteText("New High Score: %d !", final_score);
    SetColour(Colour::Normal);
    if (stored == Stored::kCannotWrite) ShowCannotWriteScore();
  } else {
    GotoXY(117, 12);
    WriteText("Final score:\t %d", final_score);
    GotoXY(117, 14);
    WriteText("High score:\t %d", high_score);
  }

  GotoXY(117, 18);
  DrainKeys();
  WriteText("Press any key to continue.");
  WaitKey();
  game.snake.Release();
}
