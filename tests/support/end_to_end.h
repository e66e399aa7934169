#pragma once
// What the whole-program tests share on top of TmuxSession: the usual files, the screens a game
// passes through and the ways out of it, each as the player would see or type it.

#include <gtest/gtest.h>

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "support/tmux_session.h"

// help.txt as the repository has it.
std::string RepositoryHelpText();

// The files a game usually finds: the repository's help.txt and a score.dat that holds
// `best_score`.
void WriteUsualFiles(const TmuxSession& session, int best_score);

::testing::AssertionResult WaitForMenu(const TmuxSession& session);

// The usual files, then the game, up to its menu.
::testing::AssertionResult StartAtTheMenu(TmuxSession& session, int best_score);

// Starts a new game from the menu and waits until the snake runs.
::testing::AssertionResult StartRunningGame(const TmuxSession& session);

// Waits until the info panel shows the head somewhere else than `from`.
::testing::AssertionResult WaitForHeadToLeave(
    const TmuxSession& session, Point from,
    std::chrono::milliseconds timeout = TmuxSession::kPatience);

// Waits until the info panel shows the head somewhere else than it shows it now, after `keys`.
::testing::AssertionResult WaitForTheSnakeToMoveOn(const TmuxSession& session,
                                                   std::string_view keys = "");

// Sends `signal_number` to the game.
void SendToGame(const TmuxSession& session, int signal_number);

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

// The number that follows `label` on the line at `line`, such as the score after "Your score:";
// -1 when the line does not start with `label` or no number follows it.
int ShownNumber(const Screen& screen, Point line, std::string_view label);

// The '#' border round the playfield and the '-' rules of the side panel, whole, with nothing
// beside them.
void ExpectFrame(const Screen& screen);

// The head's position as the info panel shows it, "(xxx, yyy)".
std::optional<Point> ShownHead(const Screen& screen);

// A small saved game: a snake of three heading right with its head at (50, 20).
std::string SmallSave(int score, int delay);
