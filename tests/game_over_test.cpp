// The game-over screen and the best score, in memory and in "score.dat".

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

#include "game/game.h"
#include "support/game_test.h"

namespace {

class GameOver : public GameTest {
 protected:
  // Plays a saved game with a body of `length` cells on row 20 to its end by Esc, on a disk that
  // is full when `disk_full`.
  void PlayAndQuit(int length, bool disk_full = false) {
    std::vector<Point> body;
    body.reserve(static_cast<std::size_t>(length));
    for (int i = 0; i < length; ++i) body.push_back({60 - i, 20});
    WriteFile("save.dat", SaveText(kRight, body, {10, 5}, 0, 100));
    std::optional<FullDisk> full;
    if (disk_full) full.emplace();
    KeyAt(0, ' ');
    KeyAt(0, kEscKey);
    KeyAt(0, 'x');  // pressed during play: must not pass the prompt
    KeyAfterTheEnd();
    RunGame(true);
  }
};

TEST_F(GameOver, BelowTheBestShowsBothScoresAndLeavesTheFile) {
  high_score = 5;
  WriteFile("score.dat", "5\n");
  PlayAndQuit(4);
  EXPECT_EQ(Text(kGameOverTitle, 11), "GAME OVER !");
  EXPECT_EQ(ColourAt(kGameOverTitle), Colour::Red);
  EXPECT_EQ(RowFrom(kFinalScoreLine), "Final score:        2");
  EXPECT_EQ(RowFrom(kOldBestLine), "High score:         5");
  EXPECT_EQ(Row(3).substr(101), "") << "the score panel is gone";
  EXPECT_EQ(Row(22).substr(101), "") << "the info panel is gone";
  EXPECT_EQ(term.ColourAt(60, 20), Colour::Red);
  EXPECT_EQ(term.ColourAt(58, 20), Colour::Red);
  EXPECT_EQ(term.CharAt(10, 5), '$');
  EXPECT_EQ(term.bells(), 1);
  EXPECT_EQ(ReadFile("score.dat"), "5\n");
  EXPECT_EQ(high_score, 5);
  EXPECT_EQ(term.pending_keys(), 0u);
  EXPECT_EQ(term.elapsed(), kTheEnd) << "the key pressed in play was drained, not taken";
}

TEST_F(GameOver, EqualToTheBestIsNoNewBest) {
  high_score = 2;
  PlayAndQuit(4);
  EXPECT_EQ(RowFrom(kFinalScoreLine), "Final score:        2");
  EXPECT_EQ(RowFrom(kOldBestLine), "High score:         2");
  EXPECT_FALSE(Exists("score.dat"));
}

// Another game played at the same time stored a better score than this one since it started.
TEST_F(GameOver, ABetterScoreStoredByAnotherGameIsKeptAndShown) {
  WriteFile("score.dat", "5\n");
  PlayAndQuit(5);
  EXPECT_EQ(RowFrom(kFinalScoreLine), "Final score:        3");
  EXPECT_EQ(RowFrom(kOldBestLine), "High score:         5");
  EXPECT_EQ(high_score, 5);
  EXPECT_EQ(ReadFile("score.dat"), "5\n");
}

TEST_F(GameOver, AboveTheBestIsStoredInMemoryAndOnDisk) {
  high_score = -3;
  WriteFile("score.dat", "6\n");  // another game's, stored meanwhile
  PlayAndQuit(9);
  EXPECT_EQ(RowFrom(kNewBestLine), "New High Score: 7 !");
  EXPECT_EQ(ColourAt(kNewBestLine), Colour::LightGreen);
  EXPECT_EQ(Text(kFinalScoreLine, 1), " ");
  EXPECT_EQ(high_score, 7);
  EXPECT_EQ(ReadFile("score.dat"), "7\n");
  EXPECT_EQ(Text(kGameOverPrompt, 26), "Press any key to continue.");
  EXPECT_EQ(Files(), (std::set<std::string>{"save.dat", "score.dat"}));
}

TEST_F(GameOver, AScoreFileThatCannotBeWrittenIsReportedAndKeepsItsOldContents) {
  SKIP_WITHOUT_FULL_DISK();
  WriteFile("score.dat", "1\n");
  high_score = 1;
  PlayAndQuit(5, true);
  EXPECT_EQ(RowFrom(kNewBestLine), "New High Score: 3 !");
  EXPECT_EQ(high_score, 3) << "the best score in memory is raised all the same";
  EXPECT_EQ(RowFrom(kBestFailure), "Cannot write the file \"score.dat\" !");
  EXPECT_EQ(ColourAt(kBestFailure), Colour::Red);
  EXPECT_EQ(term.bells(), 2);
  EXPECT_EQ(ReadFile("score.dat"), "1\n");
}

TEST_F(GameOver, AFullBoardEndsTheGame) {
  // A snake that runs through every playfield cell but one, row by row, with its head next to
  // the last free cell and the food on it.
  std::vector<Point> body;
  for (int y = 2; y <= 39; ++y) {
    for (int i = 0; i < 98; ++i) body.push_back({y % 2 == 0 ? 99 - i : 2 + i, y});
  }
  std::reverse(body.begin(), body.end());  // the head on row 39
  const Point free_cell = body.front();
  body.erase(body.begin());
  ASSERT_EQ(body.size(), 3723u);
  const Direction toward_free = body.front().x < free_cell.x ? kRight : kLeft;
  WriteFile("save.dat", SaveText(toward_free, body, free_cell, 0, 100));
  KeyAt(0, ' ');
  KeyAfterTheEnd();
  RunGame(true);
  ASSERT_EQ(frames.size(), 1u) << "one tick eats the last free cell, then the game is over";
  EXPECT_EQ(RowFrom(kNewBestLine), "New High Score: 3722 !");
  EXPECT_EQ(high_score, 3722);
}

}  // namespace
