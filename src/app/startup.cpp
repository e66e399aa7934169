// Start-up: everything that comes before the main menu.

#include <cstdlib>
#include <ctime>

#include "app/app.h"
#include "app/best_score.h"
#include "console/console.h"

namespace {

// Far more than any score file the game writes; a longer file is read only this far.
constexpr std::size_t kScoreFileLimit = 64 * 1024;

void ShowWarning(const char* text) {
  SetColour(Colour::Red);
  WriteText("%s", text);
  SetColour(Colour::Normal);
  WaitPaced(500);
}

// Loads the best score; false when "score.dat" cannot be opened or read. A file without a usable
// number leaves the best score at 0. A file that is there but could not be read is never replaced,
// so that a best score the game did not see is not lost.
bool LoadBestScore() {
  const FileContents file = ReadGameFile("score.dat", kScoreFileLimit);
  using Status = FileContents::Status;
  score_file_replaceable = file.status == Status::kRead || file.status == Status::kMissing;
  if (file.status != Status::kRead) return false;
  if (const std::optional<int> best = ParseBestScore(file.text)) high_score = *best;
  return true;
}

}  // namespace

bool StartUp() {
  SetConsoleFont();
  HideCursor();
  ClearScreen();
  WriteText("Loading..\n");
  if (!LoadBestScore()) ShowWarning("Warning: Cannot find the file \"score.dat\" !\n");
  if (!FileExists("help.txt")) ShowWarning("Warning: Cannot find the file \"help.txt\" !\n");
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  const bool has_save = FileExists("save.dat");
  ClearScreen();
  FitConsole();
  return has_save;
}
