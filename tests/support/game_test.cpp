#include "support/game_test.h"

#include <cstdio>

std::string SaveText(Direction direction, const std::vector<Point>& body, Point food, int score,
                     int delay_ms) {
  std::string text =
      "[snake info]\n" + std::to_string(direction) + " " + std::to_string(body.size()) + "\n";
  for (Point cell : body) text += std::to_string(cell.x) + " " + std::to_string(cell.y) + "\n";
  text += "[food info]\n" + std::to_string(food.x) + " " + std::to_string(food.y) + "\n";
  text += "[game info]\n" + std::to_string(score) + " " + std::to_string(delay_ms) + "\n";
  return text;
}

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
