// Start-up: the loading line, the warnings for missing files with their pauses, the best score
// from "score.dat" and whether a saved game exists.

#include <gtest/gtest.h>

#include <climits>

#include "app/app.h"
#include "game/best_score.h"
#include "support/console_test.h"

namespace {

class StartUpTest : public ConsoleTest {
 protected:
  StartUpTest() {
    term.on_sleep = [this](MemoryTerminal& t) {
      screens.push_back(t.screen());
      sleep_times.push_back(t.elapsed());
    };
  }
  std::vector<ScreenModel> screens;
  std::vector<std::uint64_t> sleep_times;
};

TEST_F(StartUpTest, WithEveryFileThereIsNoWarningAndNoPause) {
  WriteFile("score.dat", "120\n");
  WriteFile("help.txt", "help\n");
  term.Type("pq");
  EXPECT_FALSE(StartUp());
  EXPECT_TRUE(screens.empty());
  EXPECT_EQ(term.elapsed(), 0u);
  EXPECT_EQ(high_score, 120);
  EXPECT_TRUE(term.font_set);
  EXPECT_TRUE(term.cursor_hidden);
  EXPECT_TRUE(term.screen_fitted);
  EXPECT_EQ(Row(0), "") << "cleared before the menu";
  EXPECT_EQ(term.pending_keys(), 2u) << "keys pressed during start-up stay pending";
}

TEST_F(StartUpTest, EachMissingFileIsWarnedAboutInRedWithItsOwnPause) {
  EXPECT_FALSE(StartUp());
  ASSERT_EQ(screens.size(), 2u);
  EXPECT_EQ(screens[0].Row(0).substr(0, 9), "Loading..");
  EXPECT_EQ(screens[0].Row(1).substr(0, 43), "Warning: Cannot find the file \"score.dat\" !");
  EXPECT_EQ(screens[0].At(0, 1).colour, Colour::Red);
  EXPECT_EQ(screens[0].At(0, 0).colour, Colour::Normal);
  EXPECT_EQ(screens[1].Row(2).substr(0, 42), "Warning: Cannot find the file \"help.txt\" !");
  EXPECT_EQ(screens[1].At(0, 2).colour, Colour::Red);
  EXPECT_EQ(screens[1].colour(), Colour::Normal);
  EXPECT_EQ(sleep_times, (std::vector<std::uint64_t>{0, 500}));
  EXPECT_EQ(term.elapsed(), 1000u);
  EXPECT_EQ(high_score, 0);
}

TEST_F(StartUpTest, OnlyTheHelpFileMissing) {
  WriteFile("score.dat", "7");
  WriteFile("save.dat", "");
  EXPECT_TRUE(StartUp()) << "an empty saved game still counts as one";
  ASSERT_EQ(screens.size(), 1u);
  EXPECT_EQ(screens[0].Row(1).substr(0, 42), "Warning: Cannot find the file \"help.txt\" !");
  EXPECT_EQ(term.elapsed(), 500u);
  EXPECT_EQ(high_score, 7);
}

TEST_F(StartUpTest, ScoreFilesThatHoldNoUsableNumberLeaveTheBestAtZeroSilently) {
  WriteFile("help.txt", "");
  for (const char* contents : {"", "abc", "99999999999", "2147483648", "-2147483649", "- 5"}) {
    WriteFile("score.dat", contents);
    high_score = 0;
    StartUp();
    EXPECT_EQ(high_score, 0) << contents;
  }
  EXPECT_TRUE(screens.empty());
}

TEST(BestScoreReading, ReadsOneNumberAfterWhiteSpace) {
  EXPECT_EQ(ParseBestScore("120\n"), 120);
  EXPECT_EQ(ParseBestScore(" \t\n 42 points"), 42);
  EXPECT_EQ(ParseBestScore("-17"), -17);
  EXPECT_EQ(ParseBestScore("+8x"), 8);
  EXPECT_EQ(ParseBestScore("2147483647"), INT_MAX);
  EXPECT_EQ(ParseBestScore("-2147483648"), INT_MIN);
  EXPECT_EQ(ParseBestScore("0000000000000000000000042"), 42);
  EXPECT_EQ(ParseBestScore(""), std::nullopt);
  EXPECT_EQ(ParseBestScore("x1"), std::nullopt);
  EXPECT_EQ(ParseBestScore("2147483648"), std::nullopt);
  EXPECT_EQ(ParseBestScore("-"), std::nullopt);
  EXPECT_EQ(ParseBestScore("123456789012345678901234567890"), std::nullopt);
}

}  // namespace
