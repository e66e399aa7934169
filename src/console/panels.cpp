// The upper side panel during a game: the score panel and the grey info panel under it.

#include <algorithm>

#include "console/console.h"

namespace {
constexpr int kTopLevel = 10;
constexpr int kPointsPerLevel = 10;
}  // namespace

void DrawScorePanel(int score, int best) {
  const int level = std::min(score / kPointsPerLevel, kTopLevel);

  GotoXY(119, 3);
  WriteText("Level: %d", level);
  if (level == kTopLevel) WriteText(" maximum !");

  GotoXY(119, 5);
  if (score > best) SetColour(Colour::LightGreen);
  WriteText("Your score: %5d", score);
  SetColour(Colour::Normal);

  GotoXY(119, 7);
  WriteText("High score: %5d", best);
}

// The tabs are written as they stand; the console's tab stops every 8 columns line the fields up.
void DrawInfoPanel(int head_x, int head_y, int length, int food_x, int food_y, int delay) {
  SetColour(Colour::DarkGrey);
  GotoXY(112, 10);
  WriteText("Snake:");
  GotoXY(112, 12);
  WriteText("\tposition:\t (%3d, %3d)", head_x, head_y);
  GotoXY(112, 14);
  WriteText("\tlength:\t %d", length);
  GotoXY(112, 17);
  WriteText("Food:");
  GotoXY(112, 19);
  WriteText("\tposition:\t (%3d, %3d)", food_x, food_y);
  GotoXY(112, 22);
  WriteText("Delay: %4d ms", delay);
  SetColour(Colour::Normal);
}
