// Start-up: everything that comes before the main menu.

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <string>

#include "app/app.h"
#include "app/best_score.h"
#include "console/console.h"

namespace {

// Far more than any score file the game writes; a longer file is read only this far.
constexpr std::size_t kScoreFileLimit = 64 * 1024;

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};

void ShowWarning(const char* text) {
  SetColour(Colour::Red);
  WriteText("%s", text);
  SetColour(Colour::Normal);
  WaitPaced(500);
}

// Loads the best score; false when "score.dat" cannot be opened. A file without a usable number
// leaves the best score at 0.
bool LoadBestScore() {
  std::unique_ptr<std::FILE, FileCloser> file{std::fopen("score.dat", "rb")};
  if (!file) return false;
  std::string text;
  char block[4096];
  while (text.size() < kScoreFileLimit) {
    const std::size_t got = std::fread(block, 1, sizeof block, file.get());
    if (got == 0) break;
    text.append(block, got);
  }
  if (const std::optional<int> best = ParseBestScore(text)) high_score = *best;
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
