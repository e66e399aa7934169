#include "support/game_test.h"

#include <cstdio>

GameTest::GameTest() {
  term.on_sleep = [this](MemoryTerminal& t) {
    frames.push_back(t.screen());
    frame_times.push_back(t.elapsed());
  };
}

std::string GameTest::PanelPosition(const ScreenModel& frame, int row) const {
  return frame.Row(row).substr(137, 10);
}

Point GameTest::HeadAt(std::size_t tick) const {
  int x = 0;
  int y = 0;
  std::sscanf(PanelPosition(frames.at(tick), 12).c_str(), "(%d, %d)", &x, &y);
  return {x, y};
}
