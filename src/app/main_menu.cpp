// The main menu and its menu snake, which moves one cell along a fixed track for every key and
// grows with every game, and the two ways the program ends.

#include "app/app.h"
#include "console/console.h"
#include "game/game.h"
#include "snake/snake_body.h"

namespace {

constexpr Point kTrackStart{21, 6};
constexpr int kMenuSnakeGrowth = 100;

struct Corner {
  Point cell;
  Direction turn;
};
// The track's corners, running clockwise from the top left; Turn refuses a reversal there.
constexpr Corner kCorners[] = {
    {{21, 6}, kRight}, {{81, 6}, kDown}, {{81, 36}, kLeft}, {{21, 36}, kUp}};

void DrawMenuSnake(const SnakeBody& snake) {
  for (Point cell : snake.body()) PutCharAt(cell.x, cell.y, '*');
}

void RedrawMenu(bool has_save, const SnakeBody& snake) {
  DrawMenu(has_save);
  DrawMenuSnake(snake);
}

void StepMenuSnake(SnakeBody& snake) {
  for (const Corner& corner : kCorners) {
    if (snake.head() == corner.cell) snake.Turn(corner.turn);
  }
  snake.Advance();
  const Point tail = snake.trailing();
  const Point head = snake.head();
  PutCharAt(tail.x, tail.y, ' ');
  PutCharAt(head.x, head.y, '*');
}

void ShowRestMessage() {
  ClearPlayfield();
  GotoXY(36, 13);
  WriteText("%s", "You've played so many times!");
  GotoXY(41, 15);
  WriteText("%s", "Let's have a rest!");
  GotoXY(37, 19);
  WriteText("%s", "Press any key to continue.");
  DrainKeys();
  WaitKey();
}

void ShowFarewell() {
  ClearPlayfield();
  GotoXY(38, 20);
  SetColour(Colour::LightBlue);
  WriteText("%s", "Thanks for your playing!");
  SetColour(Colour::Normal);
  WaitPaced(2000);
  ClearScreen();
}

}  // namespace

int RunMainMenu(bool has_save) {
  SnakeBody menu_snake;
  DrawMenu(has_save);
  menu_snake.PlaceAll(kTrackStart);
  for (int i = 0; i < kMenuSnakeGrowth; ++i) menu_snake.Grow();

  for (;;) {
    const char key = WaitKey();
    if (key == kEscKey) break;
    switch (key) {
      case 'C':
      case 'P':
        RunGame(key == 'C');
        menu_snake.Grow();
        has_save = FileExists("save.dat");
        RedrawMenu(has_save, menu_snake);
        break;
      case 'H':
        ShowHelp();
        RedrawMenu(has_save, menu_snake);
        break;
    }
    StepMenuSnake(menu_snake);
    if (menu_snake.BitesItself()) {
      ShowRestMessage();
      break;
    }
  }
  ShowFarewell();
  menu_snake.Release();
  return 0;
}
