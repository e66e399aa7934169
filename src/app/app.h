#pragma once
// The program around the games: start-up, then the main menu with its menu snake until the player
// leaves or the menu snake bites itself.

// Prepares the console, loads the best score, warns about missing files and seeds the random
// generator. Returns whether a saved game exists.
bool StartUp();

// Runs the menu until one of its two endings; returns the program's exit status.
int RunMainMenu(bool has_save);
