// The game loop: set-up, the first draw, the start key, then one pass per key or tick until the
// snake bites itself or the player presses Esc.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <limits>
#include <vector>

#include "console/console.h"
#include "game/best_score.h"
#include "game/game.h"
#include "game/game_state.h"

namespace {

constexpr int kFastestStep = 10;
constexpr int kSlowestDelay = 1000;

Point RandomCell() {
  const int x = std::rand() % kPlayfieldWidth + kPlayfieldLeft;
  const int y = std::rand() % kPlayfieldHeight + kPlayfieldTop;
  return {x, y};
}

bool OnBody(const SnakeBody& snake, Point cell) {
  const auto body = snake.body();
  return std::find(body.begin(), body.end(), cell) != body.end();
}

// Whether the body covers every playfield cell; only a snake at least that long can.
bool CoversPlayfield(const SnakeBody& snake) {
  if (snake.length() < kPlayfieldCells) return false;
  std::vector<bool> covered(kPlayfieldCells, false);
  int count = 0;
  for (Point cell : snake.body()) {
    if (!InPlayfield(cell.x, cell.y)) continue;
    const int index = (cell.y - kPlayfieldTop) * kPlayfieldWidth + (cell.x - kPlayfieldLeft);
    if (!covered[static_cast<std::size_t>(index)]) {
      covered[static_cast<std::size_t>(index)] = true;
      ++count;
    }
  }
  return count == kPlayfieldCells;
}

Point Wrapped(Point head) {
  if (head.x <= kPlayfieldLeft - 1) {
    head.x = kPlayfieldRight;
  } else if (head.x >= kPlayfieldRight + 1) {
    head.x = kPlayfieldLeft;
  }
  if (head.y <= kPlayfieldTop - 1) {
    head.y = kPlayfieldBottom;
  } else if (head.y >= kPlayfieldBottom + 1) {
    head.y = kPlayfieldTop;
  }
  return head;
}

void Faster(int& delay_ms) {
  if (delay_ms > kFastestStep) {
    delay_ms -= kFastestStep;
  } else if (delay_ms > 1) {
    delay_ms -= 1;
  }
}

void Slower(int& delay_ms) {
  if (delay_ms < kFastestStep) {
    delay_ms += 1;
  } else if (delay_ms < kSlowestDelay) {
    delay_ms += kFastestStep;
  }
}

void DrawPanels(const Game& game, int score) {
  const Point head = game.snake.head();
  DrawScorePanel(score, high_score);
  DrawInfoPanel(head.x, head.y, game.snake.length(), game.food.x, game.food.y, game.delay_ms);
}

void StartNewGame(Game& game) {
  game.snake.PlaceAll(RandomCell());
  PlaceFood(game);
}

void DrawFirstFrame(const Game& game) {
  for (Point cell : game.snake.body()) PutCharAt(cell.x, cell.y, '*');
  if (!game.board_full) PutCharAt(game.food.x, game.food.y, '$');
  DrawPanels(game, game.snake.length() - 2);
}

void ShowDamagedArchive() {
  DrawFrame();
  GotoXY(31, 20);
  SetColour(Colour::Red);
  WriteText("The game archive is DAMAGED!\a");
  SetColour(Colour::Normal);
  WaitPaced(2000);
}

void Tick(Game& game) {
  SnakeBody& snake = game.snake;
  snake.Advance();
  snake.MoveHeadTo(Wrapped(snake.head()));
  const Point tail = snake.trailing();
  const Point head = snake.head();
  PutCharAt(tail.x, tail.y, ' ');
  PutCharAt(head.x, head.y, '*');
  if (head == game.food) {
    snake.Grow();
    AddPoint(game);
    if (PlaceFood(game)) PutCharAt(game.food.x, game.food.y, '$');
  }
  DrawPanels(game, game.score);
  WaitPaced(static_cast<unsigned>(game.delay_ms));
}

// Acts on one key of the game's table. False for a key the table does not hold, which costs no
// tick; Esc is handled by the caller.
bool HandleKey(Game& game, char key) {
  switch (key) {
    case 'A':
      Faster(game.delay_ms);
      return true;
    case 'D':
      Slower(game.delay_ms);
      return true;
    case 'H':
      game.snake.Turn(kUp);
      return true;
    case 'K':
      game.snake.Turn(kLeft);
      return true;
    case 'M':
      game.snake.Turn(kRight);
      return true;
    case 'P':
      game.snake.Turn(kDown);
      return true;
    case 'S':
      ShowSaveDialog(game);
      return true;
    case 'U':
      game.snake.Grow();
      AddPoint(game);
      return true;
    default:
      return false;
  }
}

void Play(Game& game) {
  for (;;) {
    if (game.snake.BitesItself() || game.board_full) return;
    if (KeyHit()) {
      const char key = static_cast<char>(std::toupper(GetKey() & 0xff));
      if (key == kEscKey) return;
      if (!HandleKey(game, key)) continue;
    }
    Tick(game);
  }
}

}  // namespace

bool PlaceFood(Game& game) {
  if (CoversPlayfield(game.snake)) {
    game.board_full = true;
    return false;
  }
  Point cell = RandomCell();
  while (OnBody(game.snake, cell)) cell = RandomCell();
  game.food = cell;
  return true;
}

void AddPoint(Game& game) {
  // A continued game may start from any score; it stops at the largest one rather than overflow.
  if (game.score < std::numeric_limits<int>::max()) ++game.score;
  if (game.score % 10 == 0 && game.delay_ms > kFastestStep) game.delay_ms -= kFastestStep;
}

void ClearSidePanel() {
  for (int x = kPanelLeft; x <= kPanelRight; ++x) {
    for (int y = kPanelUpperTop; y <= kPanelUpperBottom; ++y) PutCharAt(x, y, ' ');
  }
}

void RunGame(bool continue_saved) {
  Game game;
  DrawFrame();
  if (!continue_saved) {
    StartNewGame(game);
  } else if (!LoadSavedGame(game)) {
    game.snake.Release();
    ShowDamagedArchive();
    return;
  }
  DrawFirstFrame(game);
  WaitKey();
  Play(game);
  ShowGameOver(game);
}
