// "save.dat" on disk: written from the save dialog, read back when the player continues.

#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "game/game_state.h"

namespace {

constexpr const char* kSaveFile = "save.dat";

// The whole file, or nothing when it cannot be opened or read, or is far too large to be a saved
// game.
std::optional<std::string> ReadSaveFile() {
  FileContents file = ReadGameFile(kSaveFile, kLargestSaveFile);
  if (file.status != FileContents::Status::kRead || file.cut) return std::nullopt;
  return std::move(file.text);
}

}  // namespace

bool LoadSavedGame(Game& game) {
  const std::optional<std::string> text = ReadSaveFile();
  if (!text) return false;
  const std::optional<SavedGame> saved = ParseSavedGame(*text);
  if (!saved) return false;

  for (std::size_t i = 2; i < saved->body.size(); ++i) game.snake.Grow();
  game.snake.PlaceBody(saved->body);
  game.snake.Face(saved->direction);
  game.score = saved->score;
  game.delay_ms = saved->delay_ms;
  if (saved->food) {
    game.food = *saved->food;
  } else {
    PlaceFood(game);
  }
  return true;
}

SavedGame SavedGameOf(const Game& game) {
  const auto body = game.snake.body();
  return {game.snake.direction(), std::vector<Point>(body.begin(), body.end()), game.food,
          game.score, game.delay_ms};
}

bool WriteSavedGame(const Game& game) {
  // A save the reader would turn away is not written: the one before it is kept instead.
  const std::string text = FormatSavedGame(SavedGameOf(game));
  return text.size() <= kLargestSaveFile && ReplaceFile(kSaveFile, text);
}

void ShowSaveDialog(const Game& game) {
  ClearSidePanel();
  DrainKeys();
  GotoXY(113, 13);
  WriteText("Save the game and continue?\a");
  GotoXY(121, 15);
  WriteText("(Y) or (Esc)");
  char answer = WaitKey();
  while (answer != 'Y' && answer != kEscKey) answer = WaitKey();
  if (answer == 'Y' && !WriteSavedGame(game)) {
    GotoXY(113, 17);
    SetColour(Colour::Red);
    WriteText("Cannot write the file \"save.dat\" !\a");
    SetColour(Colour::Normal);
    // Two seconds from now, however long the player took to answer: a pacing mark set here
    // first. The next tick then keeps the normal pace from the end of the message.
    WaitPaced(0);
    WaitPaced(2000);
  }
  ClearSidePanel();
}
