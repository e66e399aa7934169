// The fixed furniture of the screen: the '#' border round the playfield, the '-' rules of the side
// panel, the credits block, and the menu text.

#include "console/console.h"

namespace {

void DrawBorder() {
  for (int x = kBorderLeft; x <= kBorderRight; ++x) {
    for (int y = kBorderTop; y <= kBorderBottom; ++y) {
      if (x == kBorderLeft || x == kBorderRight || y == kBorderTop || y == kBorderBottom) {
        PutCharAt(x, y, '#');
      }
    }
  }
}

void DrawPanelRules() {
  for (int row : kPanelRuleRows) {
    for (int x = kPanelLeft; x <= kPanelRight; ++x) PutCharAt(x, row, '-');
  }
}

void DrawCredits() {
  SetColour(Colour::LightMagenta);
  GotoXY(114, 30);
  WriteText("%s", game_title);
  GotoXY(118, 34);
  WriteText("Programmed by Belmor");
  GotoXY(123, 36);
  WriteText("2021.9.13");
  SetColour(Colour::Normal);
}

}  // namespace

void DrawFrame() {
  ClearScreen();
  DrawBorder();
  DrawPanelRules();
  DrawCredits();
}

void DrawMenu(bool has_save) {
  DrawFrame();
  GotoXY(31, 14);
  SetColour(Colour::Green);
  WriteText("Welcome to %s", game_title);
  SetColour(Colour::Normal);

  int menu_row = 19;
  GotoXY(46, menu_row);
  WriteText("Play(P)");
  if (has_save) {
    menu_row = 21;
    GotoXY(44, menu_row);
    WriteText("Continue(C)");
  }
  GotoXY(46, menu_row + 2);
  WriteText("Help(H)");
  GotoXY(45, menu_row + 5);
  SetColour(Colour::DarkGrey);
  WriteText("Quit(Esc)");
  SetColour(Colour::Normal);
}
