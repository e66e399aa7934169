#pragma once
// Reading "score.dat": one decimal number, as the game writes it at the end of a record game.

#include <optional>
#include <string_view>

// The number at the start of `text` after white space, with its sign; whatever follows is
// ignored. Nothing when there is no number, or when it does not fit a signed 32-bit integer.
std::optional<int> ParseBestScore(std::string_view text);
