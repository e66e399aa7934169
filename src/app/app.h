#pragma once
// The program around the games: start-up, then the main menu with its menu snake until the player
// leaves or the menu snake bites itself.

struct StartUpOutcome {
  bool has_save = false;
  // The window was too small to play in and the player chose to quit rather than wait.
  bool player_quit = false;
};

// Prepares the console, loads the best score, warns about missing files, seeds the random
// generator and fits the screen.
StartUpOutcome StartUp();

// Runs the menu until one of its two endings; returns the program's exit status.
int RunMainMenu(bool has_save);
