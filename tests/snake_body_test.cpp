// The snake body: moving, growing, turning and biting, on the chain itself.

#include "snake/snake_body.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<Point> Cells(const SnakeBody& snake) {
  return {snake.body().begin(), snake.body().end()};
}

// A snake whose body cells are `cells`, head first; the trailing node on `trailing`.
SnakeBody SnakeOn(const std::vector<Point>& cells, Point trailing) {
  SnakeBody snake;
  snake.PlaceAll(trailing);
  for (std::size_t i = 2; i < cells.size(); ++i) snake.Grow();
  snake.PlaceBody(cells);
  return snake;
}

TEST(SnakeBody, StartsAsThreeNodesOnOneCellHeadingRight) {
  const SnakeBody snake;
  EXPECT_EQ(snake.length(), 2);
  EXPECT_EQ(snake.direction(), kRight);
  EXPECT_EQ(Cells(snake), (std::vector<Point>{{0, 0}, {0, 0}}));
  EXPECT_EQ(snake.trailing(), (Point{0, 0}));
  EXPECT_FALSE(snake.BitesItself());
}

TEST(SnakeBody, BiteRules) {
  SnakeBody stacked;
  stacked.PlaceAll({5, 5});
  for (int i = 0; i < 50; ++i) stacked.Grow();
  EXPECT_FALSE(stacked.BitesItself()) << "stacked nodes never bite, whatever the length";

  // The second node elsewhere, the head on the third node's cell.
  EXPECT_TRUE(SnakeOn({{5, 5}, {5, 6}, {5, 5}}, {9, 9}).BitesItself());
  // The second node on the head's cell hides every later one.
  EXPECT_FALSE(SnakeOn({{5, 5}, {5, 5}, {6, 5}, {5, 5}}, {9, 9}).BitesItself());
  // The head on the trailing node's cell only: the tail has just left it.
  EXPECT_FALSE(SnakeOn({{5, 5}, {6, 5}, {6, 6}, {5, 6}}, {5, 5}).BitesItself());
  // The last body node counts.
  EXPECT_TRUE(SnakeOn({{5, 5}, {6, 5}, {6, 6}, {5, 5}}, {4, 4}).BitesItself());
}

TEST(SnakeBody, AdvanceShiftsTheBodyBehindTheHead) {
  SnakeBody snake = SnakeOn({{10, 10}, {11, 10}, {12, 10}}, {13, 10});
  snake.Turn(kUp);
  snake.Advance();
  EXPECT_EQ(Cells(snake), (std::vector<Point>{{10, 9}, {10, 10}, {11, 10}}));
  EXPECT_EQ(snake.trailing(), (Point{12, 10}));
}

TEST(SnakeBody, GrowThenAdvanceKeepsTheTailInPlace) {
  SnakeBody snake = SnakeOn({{10, 10}, {9, 10}}, {8, 10});
  snake.Grow();
  EXPECT_EQ(snake.length(), 3);
  snake.Advance();
  EXPECT_EQ(Cells(snake), (std::vector<Point>{{11, 10}, {10, 10}, {9, 10}}));
  EXPECT_EQ(snake.trailing(), (Point{8, 10})) << "the visible tail did not move";
}

TEST(SnakeBody, TurnRefusesTheReverseAndAnythingThatIsNoHeading) {
  SnakeBody snake;
  snake.Turn(kLeft);
  EXPECT_EQ(snake.direction(), kRight);
  snake.Turn(kRight);
  EXPECT_EQ(snake.direction(), kRight);
  snake.Turn(kUp);
  EXPECT_EQ(snake.direction(), kUp);
  snake.Turn(kDown);
  EXPECT_EQ(snake.direction(), kUp);
  snake.Turn(kLeft);
  EXPECT_EQ(snake.direction(), kLeft);
  for (Direction bad : {-1, 4, 7, 1 << 30}) {
    snake.Turn(bad);
    snake.Face(bad);
    EXPECT_EQ(snake.direction(), kLeft);
  }
  snake.Face(kRight);  // a loaded heading is taken as it stands
  EXPECT_EQ(snake.direction(), kRight);
}

TEST(SnakeBody, LongChainsAreReleasedAndMovedSafely) {
  SnakeBody snake;
  for (int i = 0; i < 10'000; ++i) snake.Grow();
  EXPECT_EQ(snake.length(), 10'002);
  SnakeBody moved = std::move(snake);
  EXPECT_EQ(moved.length(), 10'002);
  moved.Advance();
  moved.Release();  // the sanitizers report a node freed twice or never
  EXPECT_EQ(moved.length(), 0);
}

}  // namespace
