// The frame, the side panels and the menu text, cell by cell where it matters.

#include <gtest/gtest.h>

#include "support/console_test.h"

namespace {

using Furniture = ConsoleTest;

TEST_F(Furniture, FrameDrawsBorderRulesAndCredits) {
  DrawFrame();
  int hashes = 0;
  for (int y = 0; y < kScreenHeight; ++y) {
    for (int x = 0; x < kScreenWidth; ++x) hashes += term.CharAt(x, y) == '#';
  }
  EXPECT_EQ(hashes, 276);
  for (auto [x, y] : {std::pair{1, 1}, {100, 1}, {1, 40}, {100, 40}}) {
    EXPECT_EQ(term.CharAt(x, y), '#') << x << "," << y;
  }
  EXPECT_EQ(term.CharAt(0, 1), ' ');
  EXPECT_EQ(term.CharAt(2, 2), ' ');
  for (int row : {1, 26, 40}) {
    EXPECT_EQ(Text(101, row, 53), std::string(53, '-')) << row;
    EXPECT_EQ(term.CharAt(154, row), ' ');
  }
  EXPECT_EQ(Text(kCreditsTitle, 6), "Vorlix");
  EXPECT_EQ(Text(kCreditsAuthor, 20), "Programmed by Belmor");
  EXPECT_EQ(Text(kCreditsDate, 9), "2021.9.13");
  EXPECT_EQ(ColourAt(kCreditsTitle), Colour::LightMagenta);
  EXPECT_EQ(term.ColourAt(131, 36), Colour::LightMagenta);
  EXPECT_EQ(term.screen().colour(), Colour::Normal);
}

TEST_F(Furniture, ScorePanelLevelsAndColours) {
  DrawScorePanel(0, 99);
  EXPECT_EQ(RowFrom(kLevelLine), "Level: 0");
  EXPECT_EQ(RowFrom(kScoreLine), "Your score:     0");
  EXPECT_EQ(RowFrom(kBestLine), "High score:    99");

  DrawScorePanel(99, 99);  // equal to the best: not yet green
  EXPECT_EQ(RowFrom(kLevelLine), "Level: 9");
  EXPECT_EQ(term.ColourAt(131, 5), Colour::Normal);

  DrawScorePanel(100, 99);
  EXPECT_EQ(RowFrom(kLevelLine), "Level: 10 maximum !");
  EXPECT_EQ(ColourAt(kScoreLine), Colour::LightGreen);
  EXPECT_EQ(ColourAt(kBestLine), Colour::Normal);

  ClearScreen();
  DrawScorePanel(250, 99);
  EXPECT_EQ(RowFrom(kLevelLine), "Level: 10 maximum !");
  DrawScorePanel(123456, 99);
  EXPECT_EQ(RowFrom(kScoreLine), "Your score: 123456");
  EXPECT_EQ(term.screen().colour(), Colour::Normal);
}

TEST_F(Furniture, InfoPanelLinesUpOnTheTabStops) {
  DrawInfoPanel(7, 39, 12, 99, 2, 100);
  EXPECT_EQ(RowFrom(kSnakeTitle), "Snake:");
  EXPECT_EQ(Text(kHeadLabel, 9), "position:");
  EXPECT_EQ(Text(kHeadCell, 10), "(  7,  39)");
  EXPECT_EQ(Text(kLengthLabel, 7), "length:");
  EXPECT_EQ(RowFrom(kLengthNumber), "12");
  EXPECT_EQ(RowFrom(kFoodTitle), "Food:");
  EXPECT_EQ(Text(kFoodCell, 10), "( 99,   2)");
  EXPECT_EQ(RowFrom(kDelayLine), "Delay:  100 ms");
  EXPECT_EQ(term.ColourAt(138, 12), Colour::DarkGrey);
  EXPECT_EQ(ColourAt(kDelayLine), Colour::DarkGrey);
  EXPECT_EQ(term.screen().colour(), Colour::Normal);
}

TEST_F(Furniture, MenuWithoutAndWithASavedGame) {
  DrawMenu(false);
  EXPECT_EQ(Text(kWelcomeLine, 17), "Welcome to Vorlix");
  EXPECT_EQ(ColourAt(kWelcomeLine), Colour::Green);
  EXPECT_EQ(Text(kPlayItem, 7), "Play(P)");
  EXPECT_EQ(Text(HelpItem(false), 7), "Help(H)");
  EXPECT_EQ(Text(QuitItem(false), 9), "Quit(Esc)");
  EXPECT_EQ(ColourAt(QuitItem(false)), Colour::DarkGrey);
  EXPECT_EQ(ColourAt(HelpItem(false)), Colour::Normal);
  EXPECT_EQ(Text(40, 26, 20), std::string(20, ' '));

  DrawMenu(true);
  EXPECT_EQ(Text(kPlayItem, 7), "Play(P)");
  EXPECT_EQ(Text(kContinueItem, 11), "Continue(C)");
  EXPECT_EQ(Text(HelpItem(true), 7), "Help(H)");
  EXPECT_EQ(Text(QuitItem(true), 9), "Quit(Esc)");
  EXPECT_EQ(Text(40, 24, 20), std::string(20, ' '));
  EXPECT_EQ(Text(kCreditsTitle, 6), "Vorlix");
  EXPECT_EQ(term.screen().colour(), Colour::Normal);
}

}  // namespace
