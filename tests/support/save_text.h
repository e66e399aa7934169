#pragma once
// "save.dat" spelt out line by line, for tests that start from a saved game or look for one.

#include <string>
#include <vector>

#include "snake/snake_body.h"

// The text of a "save.dat" as the game writes it: "[snake info]", the heading and the number of
// body cells, each cell from the head on; "[food info]" and the food's cell; "[game info]", the
// score and the delay of a tick.
std::string SaveText(Direction direction, const std::vector<Point>& body, Point food, int score,
                     int delay_ms);
