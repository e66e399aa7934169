#include "support/game_test.h"

#include <cstdio>

GameTest::GameTest() {
  term.on_sleep = [this](MemoryTerminal& t) {
    frames.push_back(t.screen());
    frame_times.push_back(t.elapsed());
  };
}

Point GameTest::HeadAt(std::size_t tick) const {
  int x = 0;
  int y = 0;
  const std::string shown = TextAt(frames.at(tick), kHeadCell, kShownCellWidth);
  EXPECT_EQ(std::sscanf(shown.c_str(), "(%d, %d)", &x, &y), 2) << "head cell " << shown;
  return {x, y};
}
