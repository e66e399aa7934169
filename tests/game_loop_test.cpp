// Whole games on the in-memory terminal: the start, steering, speed, growth, wrapping, eating and
// the pace of the ticks.

#include <gtest/gtest.h>

#include <cstdlib>

#include "game/game.h"
#include "support/game_test.h"

namespace {

class GameLoop : public GameTest {
 protected:
  // The delay that the panel shows after `key`, pressed once in a game saved with `delay` ms a
  // tick and `score` points.
  int DelayAfter(char key, int delay, int score = 0) {
    frames.clear();
    AttachTerminal(term);
    WriteFile("save.dat", SaveText(kRight, {{50, 20}, {49, 20}}, {10, 5}, score, delay));
    const auto now = term.elapsed();
    KeyAt(now, 'x');
    KeyAt(now, key);
    KeyAt(now + 1, kEscKey);
    KeyAt(now + 1'000'000, ' ');
    RunGame(true);
    return std::atoi(frames.at(0).Row(22).substr(118, 5).c_str());
  }
};

struct Start {
  Point snake;
  Point food;
};

// Where a new game puts the snake and the food after srand(seed), drawing x before y.
Start StartFromSeed(unsigned seed) {
  std::srand(seed);
  Start start;
  start.snake.x = std::rand() % 98 + 2;
  start.snake.y = std::rand() % 38 + 2;
  start.food.x = std::rand() % 98 + 2;
  start.food.y = std::rand() % 38 + 2;
  std::srand(seed);
  return start;
}

TEST_F(GameLoop, NewGameDrawsSnakeAndFoodFromTheRandomOrderAndWaitsForAKey) {
  const Start start = StartFromSeed(7);
  bool checked = false;
  term.on_key_wait = [&](MemoryTerminal& t) {
    if (checked) return;
    checked = true;
    EXPECT_EQ(t.CharAt(start.snake.x, start.snake.y), '*');
    EXPECT_EQ(t.CharAt(start.food.x, start.food.y), '$');
    EXPECT_EQ(TextAt(t, kScoreLine, 17), "Your score:     0");
    EXPECT_EQ(TextAt(t, kLengthLabel, 10), "length:  2");
    EXPECT_EQ(TextAt(t, kDelayLine, 14), "Delay:  100 ms");
    EXPECT_EQ(t.CharAt(1, 1), '#');
  };
  KeyAt(5000, 'x');
  KeyAt(5000, kEscKey);
  KeyAfterTheEnd();
  RunGame(false);
  EXPECT_TRUE(checked);
  EXPECT_TRUE(frames.empty()) << "no tick before the start key, and none after Esc";
  EXPECT_EQ(Text(kGameOverTitle, 11), "GAME OVER !");
  EXPECT_EQ(RowFrom(kFinalScoreLine), "Final score:        0");
  EXPECT_EQ(RowFrom(kOldBestLine), "High score:         0");
}

TEST_F(GameLoop, TheFirstTickMovesRightAndKeysOutsideTheTableCostNothing) {
  const Start start = StartFromSeed(3);
  KeyAt(0, 'x');  // the start key
  KeyAt(0, 'z');  // not in the table: no tick, no wait
  KeyAt(0, 224);  // the prefix of an arrow: the same
  KeyAt(250, kEscKey);
  KeyAfterTheEnd();
  RunGame(false);
  ASSERT_EQ(frames.size(), 3u);
  EXPECT_EQ(frame_times[0], 0u);  // the first paced wait of all waits its full time
  EXPECT_EQ(HeadAt(0), (Point{start.snake.x + 1, start.snake.y}));
  EXPECT_EQ(HeadAt(2), (Point{start.snake.x + 3, start.snake.y}));
  EXPECT_EQ(term.elapsed(), kTheEnd);
}

TEST_F(GameLoop, AnArrowThatStartsTheGameAlsoSteersIt) {
  const Start start = StartFromSeed(11);
  term.PressArrow(80);  // down
  KeyAt(50, kEscKey);
  KeyAfterTheEnd();
  RunGame(false);
  ASSERT_EQ(frames.size(), 1u);
  const int below = start.snake.y == 39 ? 2 : start.snake.y + 1;
  EXPECT_EQ(HeadAt(0), (Point{start.snake.x, below}));
}

TEST_F(GameLoop, SteeringRefusesTheReverseButStillMoves) {
  WriteFile("save.dat", SaveText(kRight, {{50, 20}, {49, 20}}, {10, 5}, 0, 100));
  KeyAt(0, ' ');
  KeyAt(0, 'k');    // left while heading right: refused, one cell right
  KeyAt(150, 'H');  // up, then left: two keys, two ticks
  KeyAt(150, 'K');
  KeyAt(350, kEscKey);
  KeyAfterTheEnd();
  RunGame(true);
  ASSERT_EQ(frames.size(), 4u);
  EXPECT_EQ(HeadAt(0), (Point{51, 20}));
  EXPECT_EQ(HeadAt(1), (Point{52, 20}));
  EXPECT_EQ(HeadAt(2), (Point{52, 19}));
  EXPECT_EQ(HeadAt(3), (Point{51, 19}));
  EXPECT_EQ(frames[3].At(52, 19).ch, '*');
  EXPECT_EQ(frames[3].At(52, 20).ch, ' ');
}

TEST_F(GameLoop, TheHeadWrapsOnAllFourSides) {
  struct Case {
    Direction direction;
    Point head, second, expected;
  };
  for (const Case& c :
       {Case{kLeft, {2, 10}, {3, 10}, {99, 10}}, Case{kRight, {99, 10}, {98, 10}, {2, 10}},
        Case{kUp, {30, 2}, {30, 3}, {30, 39}}, Case{kDown, {30, 39}, {30, 38}, {30, 2}}}) {
    frames.clear();
    AttachTerminal(term);
    WriteFile("save.dat", SaveText(c.direction, {c.head, c.second}, {60, 30}, 0, 100));
    KeyAt(term.elapsed(), 'x');
    KeyAt(term.elapsed() + 50, kEscKey);
    KeyAt(term.elapsed() + 1000, ' ');
    RunGame(true);
    ASSERT_EQ(frames.size(), 1u);
    EXPECT_EQ(HeadAt(0), c.expected) << "heading " << c.direction;
    EXPECT_EQ(frames[0].At(c.expected.x, c.expected.y).ch, '*');
  }
}

TEST_F(GameLoop, FasterAndSlowerKeepToTheirSteps) {
  EXPECT_EQ(DelayAfter('A', 11), 1);
  EXPECT_EQ(DelayAfter('a', 10), 9);
  EXPECT_EQ(DelayAfter('A', 2), 1);
  EXPECT_EQ(DelayAfter('A', 1), 1);
  EXPECT_EQ(DelayAfter('D', 9), 10);
  EXPECT_EQ(DelayAfter('d', 10), 20);
  EXPECT_EQ(DelayAfter('D', 1000), 1000);
  EXPECT_EQ(DelayAfter('D', 995), 1005);  // a loaded delay is taken as it is
}

TEST_F(GameLoop, EveryTenthPointSpeedsTheGameUpDownToTenMilliseconds) {
  EXPECT_EQ(DelayAfter('U', 20, 19), 10);
  EXPECT_EQ(DelayAfter('U', 10, 9), 10);
  EXPECT_EQ(DelayAfter('U', 100, 8), 100);
  EXPECT_EQ(DelayAfter('U', 100, 10), 100);
}

TEST_F(GameLoop, TenGrowKeysScoreTenPointsWithoutMovingTheFood) {
  const Start start = StartFromSeed(5);
  KeyAt(0, ' ');
  for (int i = 0; i < 10; ++i) KeyAt(0, 'U');
  KeyAt(990, kEscKey);  // the tenth point made the tenth tick 90 ms long
  KeyAfterTheEnd();
  RunGame(false);
  ASSERT_EQ(frames.size(), 10u);
  const ScreenModel& last = frames.at(9);
  EXPECT_EQ(TextAt(last, kScoreLine, 17), "Your score:    10");
  EXPECT_EQ(TextAt(last, kLengthLabel, 11), "length:  12");
  EXPECT_EQ(TextAt(last, kDelayLine, 14), "Delay:   90 ms");
  EXPECT_EQ(last.At(start.food.x, start.food.y).ch, '$');
  EXPECT_EQ(Text(kNewBestLine, 20), "New High Score: 10 !");
}

TEST_F(GameLoop, EatingShowsTheNewFoodAtOnceAndTheLongerTailOnTheNextTick) {
  std::srand(2);
  const int food_x = std::rand() % 98 + 2;
  const int food_y = std::rand() % 38 + 2;
  std::srand(2);
  WriteFile("save.dat", SaveText(kRight, {{50, 20}, {49, 20}, {48, 20}}, {51, 20}, 0, 100));
  KeyAt(0, ' ');
  KeyAt(150, kEscKey);
  KeyAfterTheEnd();
  RunGame(true);
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].At(food_x, food_y).ch, '$');
  EXPECT_EQ(TextAt(frames[0], kScoreLine, 17), "Your score:     1");
  EXPECT_EQ(frames[0].Row(20).substr(48, 4), " ***");  // the tail left 48 on the move
  EXPECT_EQ(frames[1].Row(20).substr(48, 5), " ****") << "the tail stayed where it was";
}

TEST_F(GameLoop, TicksKeepTheirPaceAndTheFirstAfterALongPauseRunsAtOnce) {
  WaitPaced(0);  // an earlier paced wait, long before the game
  term.Advance(60'000);
  WriteFile("save.dat", SaveText(kUp, {{50, 30}, {50, 31}}, {10, 5}, 0, 100));
  const auto start = term.elapsed();
  KeyAt(start, ' ');
  KeyAt(start + 30, 'D');  // 110 ms from the third tick on
  KeyAt(start + 450, kEscKey);
  KeyAfterTheEnd();
  RunGame(true);
  ASSERT_GE(frame_times.size(), 4u);
  // The first tick's wait was over long ago: the second tick follows at once, and the rest keep
  // the pace, 110 ms once D is taken.
  EXPECT_EQ(frame_times[0] - start, 0u);
  EXPECT_EQ(HeadAt(0), (Point{50, 28}));
  EXPECT_EQ(frame_times[1] - start, 100u);
  EXPECT_EQ(frame_times[2] - start, 210u);
  EXPECT_EQ(frame_times[3] - start, 320u);
}

TEST_F(GameLoop, AHeadThatEntersTheCellTheTailJustLeftShowsThereWithoutABite) {
  // A square of four heading down, into the cell its tail leaves in the same move.
  WriteFile("save.dat", SaveText(kDown, {{50, 20}, {51, 20}, {51, 21}, {50, 21}}, {10, 5}, 0, 100));
  KeyAt(0, ' ');
  KeyAt(150, kEscKey);
  KeyAfterTheEnd();
  RunGame(true);
  ASSERT_EQ(frames.size(), 2u) << "no bite after the first tick";
  EXPECT_EQ(HeadAt(0), (Point{50, 21}));
  EXPECT_EQ(frames[0].At(50, 21).ch, '*') << "the head is drawn after the tail's cell is blanked";
}

TEST_F(GameLoop, ABiteShowsForOneTickBeforeTheGameOverScreen) {
  // Heading down into its own body.
  WriteFile("save.dat",
            SaveText(kLeft, {{50, 20}, {51, 20}, {51, 21}, {50, 21}, {49, 21}}, {10, 5}, 3, 100));
  KeyAt(0, ' ');
  KeyAt(0, 'P');
  KeyAfterTheEnd();
  RunGame(true);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(HeadAt(0), (Point{50, 21}));
  EXPECT_EQ(TextAt(frames[0], kGameOverTitle, 11), std::string(11, ' '));
  EXPECT_EQ(Text(kGameOverTitle, 11), "GAME OVER !");
  EXPECT_EQ(term.ColourAt(50, 21), Colour::Red);
  EXPECT_EQ(Text(kNewBestLine, 19), "New High Score: 3 !");
}

}  // namespace
