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
  EXPECT_EQ(Text(114, 30, 6), "Vorlix");
  EXPECT_EQ(Text(118, 34, 20), "Programmed by Belmor");
  EXPECT_EQ(Text(123, 36, 9), "2021.9.13");
  EXPECT_EQ(term.ColourAt(114, 30), Colour::LightMagenta);
  EXPECT_EQ(term.ColourAt(131, 36), Colour::LightMagenta);
  EXPECT_EQ(term.screen().colour(), Colour::Normal);
}

TEST_F(Furniture, ScorePanelLevelsAndColours) {
  high_score = 99;
  DrawScorePanel(0);
  EXPECT_EQ(Row(3).substr(119), "Level: 0");
  EXPECT_EQ(Row(5).substr(119), "Your score:     0");
  EXPECT_EQ(Row(7).substr(119), "High score:    99");

  DrawScorePanel(99);  // equal to the best: not yet green
  EXPECT_EQ(Row(3).substr(119), "Level: 9");
  EXPECT_EQ(term.ColourAt(131, 5), Colour::Normal);

  DrawScorePanel(100);
  EXPECT_EQ(Row(3).substr(119), "Level: 10 maximum !");
  EXPECT_EQ(term.ColourAt(119, 5), Colour::LightGreen);
  EXPECT_EQ(term.ColourAt(119, 7), Colour::Normal);

  ClearScreen();
  DrawScorePanel(250);
  EXPECT_EQ(Row(3).substr(119), "Level: 10 maximum !");
  DrawScorePanel(123456);
  EXPECT_EQ(Row(5).substr(119), "Your score: 123456");
  EXPECT_EQ(term.screen().colour(), Colour::Normal);
}

TEST_F(Furniture, InfoPanelLinesUpOnTheTabStops) {
  DrawInfoPanel(7, 39, 12, 99, 2, 100);
  EXPECT_EQ(Row(10).substr(112), "Snake:");
  EXPECT_EQ(Text(120, 12, 9), "position:");
  EXPECT_EQ(Text(137, 12, 10), "(  7,  39)");
  EXPECT_EQ(Text(120, 14, 7), "length:");
  EXPECT_EQ(Row(14).substr(129), "12");
  EXPECT_EQ(Row(17).substr(112), "Food:");
  EXPECT_EQ(Text(137, 19, 10), "( 99,   2)");
  EXPECT_EQ(Row(22).substr(112), "Delay:  100 ms");
  EXPECT_EQ(term.ColourAt(138, 12), Colour::DarkGrey);
  EXPECT_EQ(term.ColourAt(112, 22), Colour::DarkGrey);
  EXPECT_EQ(term.screen().colour(), Colour::Normal);
}

TEST_F(Furniture, MenuWithoutAndWithASavedGame) {
  DrawMenu(false);
  EXPECT_EQ(Text(31, 14, 17), "Welcome to Vorlix");
  EXPECT_EQ(term.ColourAt(31, 14), Colour::Green);
  EXPECT_EQ(Text(46, 19, 7), "Play(P)");
  EXPECT_EQ(Text(46, 21, 7), "Help(H)");
  EXPECT_EQ(Text(45, 24, 9), "Quit(Esc)");
  EXPECT_EQ(term.ColourAt(45, 24), Colour::DarkGrey);
  EXPECT_EQ(term.ColourAt(46, 21), Colour::Normal);
  EXPECT_EQ(Text(40, 26, 20), std::string(20, ' '));

  DrawMenu(true);
  EXPECT_EQ(Text(46, 19, 7), "Play(P)");
  EXPECT_EQ(Text(44, 21, 11), "Continue(C)");
  EXPECT_EQ(Text(46, 23, 7), "Help(H)");
  EXPECT_EQ(Text(45, 26, 9), "Quit(Esc)");
  EXPECT_EQ(Text(40, 24, 20), std::string(20, ' '));
  EXPECT_EQ(Text(114, 30, 6), "Vorlix");
  EXPECT_EQ(term.screen().colour(), Colour::Normal);
}

}  // namespace
