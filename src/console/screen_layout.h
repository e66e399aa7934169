#pragma once
// Where everything stands on the 155 by 42 screen: the '#' border, the playfield inside it and the
// side panel to its right. Plain constants, for every part of the game that draws or places.

// The '#' border round the playfield.
inline constexpr int kBorderLeft = 1;
inline constexpr int kBorderRight = 100;
inline constexpr int kBorderTop = 1;
inline constexpr int kBorderBottom = 40;

// The playfield inside the border, where the snakes move and the food lies.
inline constexpr int kPlayfieldLeft = kBorderLeft + 1;
inline constexpr int kPlayfieldRight = kBorderRight - 1;
inline constexpr int kPlayfieldTop = kBorderTop + 1;
inline constexpr int kPlayfieldBottom = kBorderBottom - 1;
inline constexpr int kPlayfieldWidth = kPlayfieldRight - kPlayfieldLeft + 1;   // 98
inline constexpr int kPlayfieldHeight = kPlayfieldBottom - kPlayfieldTop + 1;  // 38
inline constexpr int kPlayfieldCells = kPlayfieldWidth * kPlayfieldHeight;

inline constexpr bool InPlayfield(int x, int y) {
  return x >= kPlayfieldLeft && x <= kPlayfieldRight && y >= kPlayfieldTop && y <= kPlayfieldBottom;
}

// The side panel: '-' rules on three rows, the score and info panels above the middle rule, the
// credits below it.
inline constexpr int kPanelLeft = kBorderRight + 1;
inline constexpr int kPanelRight = 153;
inline constexpr int kPanelRuleRows[] = {kBorderTop, 26, kBorderBottom};
inline constexpr int kPanelUpperTop = kBorderTop + 1;
inline constexpr int kPanelUpperBottom = 25;
