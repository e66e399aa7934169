#include "support/save_text.h"

std::string SaveText(Direction direction, const std::vector<Point>& body, Point food, int score,
                     int delay_ms) {
  std::string text =
      "[snake info]\n" + std::to_string(direction) + " " + std::to_string(body.size()) + "\n";
  for (Point cell : body) text += std::to_string(cell.x) + " " + std::to_string(cell.y) + "\n";
  text += "[food info]\n" + std::to_string(food.x) + " " + std::to_string(food.y) + "\n";
  text += "[game info]\n" + std::to_string(score) + " " + std::to_string(delay_ms) + "\n";
  return text;
}
