#pragma once
// "score.dat": the best score of all games, one decimal number and a line break. Read at start-up,
// replaced at the end of a game that beat it.

#include <optional>
#include <string>
#include <string_view>

// The best score of all games, loaded at start-up and raised at game over.
extern int high_score;

// The number at the start of `text` after white space, with its sign; whatever follows is
// ignored. Nothing when there is no number, or when it does not fit a signed 32-bit integer.
std::optional<int> ParseBestScore(std::string_view text);
// The file's text for `best`.
std::string FormatBestScore(int best);

// Reads "score.dat" into `best`; false when the file cannot be opened or read. A file without a
// usable number leaves `best` as it was.
bool LoadBestScore(int& best);

enum class Stored {
  kStored,       // "score.dat" now holds the new best
  kNoNewBest,    // as much or more is stored already, by another game meanwhile: nothing is written
  kCannotWrite,  // the file could not be written, or is there but cannot be read (a best score the
                 // game cannot see is not to be lost)
};
// Stores `score`, which beat `best`, in "score.dat". The file is read again first, under a lock
// that every game takes, so that two games played at once never lower it: where it holds as much
// or more, that number becomes `best` and the file is left alone; otherwise `best` is `score`.
Stored StoreBestScore(int score, int& best);
