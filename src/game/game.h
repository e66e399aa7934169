#pragma once
// One game, from its set-up (new, or continued from "save.dat") to the game-over screen, and the
// best score of all games (high_score) it plays against.

#include "game/best_score.h"

void RunGame(bool continue_saved);
