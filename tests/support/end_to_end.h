#pragma once
// What the whole-program tests share on top of TmuxSession: the usual files, the screens a game
// passes through and the ways out of it, each as the player would see or type it.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/tmux_session.h"

// help.txt as the repository has it.
std::string RepositoryHelpText();

// The files a game usually finds: the repository's help.txt and a score.dat that holds
// `best_score`.
void WriteUsualFiles(const TmuxSession& session, int best_score);

::testing::AssertionResult WaitForMenu(const TmuxSession& session);

// The game-over screen, once its prompt shows: keys typed before it are thrown away.
::testing::AssertionResult WaitForGameOver(const TmuxSession& session);

// A key past a "Press any key to continue." prompt, then the menu.
::testing::AssertionResult ContinueToMenu(const TmuxSession& session);

// After StartGame: the game ends with `status` as the shell reports it (128 + n for signal n) and
// the terminal is given back.
void ExpectGameEnd(const TmuxSession& session, int status);

// Esc on the menu, then the program ends well. The farewell stays up until two seconds have passed
// since the game last paused for anything, so after a game it may only flash.
void QuitFromMenu(const TmuxSession& session);

// Esc to the game-over screen, a key to the menu, Esc to leave; the program ends well.
void EndGameAndQuit(const TmuxSession& session);

struct Cell {
  int x = 0;
  int y = 0;
  bool operator==(const Cell&) const = default;
};

// The head's position as the info panel shows it, "(xxx, yyy)" at (137, 12).
std::optional<Cell> ShownHead(const Screen& screen);
