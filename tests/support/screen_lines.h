#pragma once
// Where the game's screens stand, named once for every test that reads them, on the in-memory
// terminal and in a real one alike: (x, y), x the column and y the row from 0 at the top left.
// Each names the first cell of its line or field.

#include "snake/snake_body.h"

// The score panel: "Level: %d", "Your score: %5d" and "High score: %5d".
inline constexpr Point kLevelLine{119, 3};
inline constexpr Point kScoreLine{119, 5};
inline constexpr Point kBestLine{119, 7};

// The info panel, in dark grey: the snake's head and the food, each cell shown as "(xxx, yyy)",
// the snake's length and the delay of a tick.
inline constexpr Point kSnakeTitle{112, 10};
inline constexpr Point kHeadLabel{120, 12};
inline constexpr Point kHeadCell{137, 12};
inline constexpr Point kLengthLabel{120, 14};
inline constexpr Point kLengthNumber{129, 14};
inline constexpr Point kFoodTitle{112, 17};
inline constexpr Point kFoodCell{137, 19};
inline constexpr Point kDelayLine{112, 22};
inline constexpr int kShownCellWidth = 10;

// The save dialog, in the side panel, and its failure.
inline constexpr Point kSaveQuestion{113, 13};
inline constexpr Point kSaveAnswers{121, 15};
inline constexpr Point kSaveFailure{113, 17};

// The game-over screen, in the side panel: "Final score:" and "High score:" with their numbers
// after them, or "New High Score: n !" alone; then a failed write of the best score and the
// prompt.
inline constexpr Point kGameOverTitle{121, 8};
inline constexpr Point kFinalScoreLine{117, 12};
inline constexpr Point kNewBestLine{117, 13};
inline constexpr Point kOldBestLine{117, 14};
inline constexpr Point kBestFailure{117, 16};
inline constexpr Point kGameOverPrompt{117, 18};

// The menu: the items below Play move down two rows when the saved game's line shows.
inline constexpr Point kWelcomeLine{31, 14};
inline constexpr Point kPlayItem{46, 19};
inline constexpr Point kContinueItem{44, 21};
constexpr Point HelpItem(bool has_save) {
  return {46, has_save ? 23 : 21};
}
constexpr Point QuitItem(bool has_save) {
  return {45, has_save ? 26 : 24};
}
// A saved game that does not read, in red on the frame.
inline constexpr Point kDamagedLine{31, 20};

// The help, typed into the playfield from its first line, and the prompt under it.
inline constexpr Point kHelpStart{5, 5};
inline constexpr Point kHelpPrompt{5, 36};

// The credits under the side panel, in light magenta.
inline constexpr Point kCreditsTitle{114, 30};
inline constexpr Point kCreditsAuthor{118, 34};
inline constexpr Point kCreditsDate{123, 36};
