// Start-up: everything that comes before the main menu.

#include <cstdlib>
#include <ctime>

#include "app/app.h"
#include "console/console.h"
#include "game/best_score.h"

namespace {

void ShowWarning(const char* text) {
  SetColour(Colour::Red);
  WriteText("%s", text);
  SetColour(Colour::Normal);
  WaitPaced(500);
}

}  // namespace

bool StartUp() {
  SetConsoleFont();
  HideCursor();
  ClearScreen();
  WriteText("Loading..\n");
  if (!LoadBestScore(high_score)) ShowWarning("Warning: Cannot find the file \"score.dat\" !\n");
  if (!FileExists("help.txt")) ShowWarning("Warning: Cannot find the file \"help.txt\" !\n");
  std::srand(static_cast<unsigned>(std::time(nullptr)));
  const bool has_save = FileExists("save.dat");
  ClearScreen();
  FitConsole();
  return has_save;
}
