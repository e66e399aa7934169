#pragma once
// "score.dat": the best score of all games, one decimal number and a line break. Read at start-up,
// replaced at the end of a game that beat it.

#include <optional>
#include <string>
#include <string_view>

// The number at the start of `text` after white space, with its sign; whatever follows is
// ignored. Nothing when there is no number, or when it does not fit a signed 32-bit integer.
std::optional<int> ParseBestScore(std::string_view text);
// The file's text for `best`.
std::string FormatBestScore(int best);

// Reads "score.dat" into `best`; false when the file cannot be opened or read. A file without a
// usable number leaves `best` as it was.
bool LoadBestScore(int& best);
// Replaces "score.dat" with `best`; false when it could not be written. A file that was there but
// could not be read when the game last loaded it is never replaced, so that a best score the game
// did not see is not lost.
bool StoreBestScore(int best);
