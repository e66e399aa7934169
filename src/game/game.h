#pragma once
// One game, from its set-up (new, or continued from "save.dat") to the game-over screen.

void RunGame(bool continue_saved);
