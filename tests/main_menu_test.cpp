// The main menu: its keys, the menu snake that moves with every key and grows with every game,
// the rest message once it bites itself, and the farewell.

#include <gtest/gtest.h>

#include <filesystem>

#include "app/app.h"
#include "support/game_test.h"

namespace {

class MainMenu : public GameTest {
 protected:
  MainMenu() {
    term.on_key_wait = [this](MemoryTerminal& t) {
      if (rest_at == 0 && t.TextAt(36, 13, 28) == "You've played so many times!") {
        rest_at = t.elapsed();
      }
    };
  }

  // Keys that only move the menu snake, each at its own moment.
  void Moves(int count) {
    for (int i = 0; i < count; ++i) Key('x');
  }
  void Key(int code) {
    KeyAt(next, code);
    next += kStep;
  }
  // A new game ended by Esc right after its start key; its game-over screen is passed a moment
  // later, once the keys pressed during the game have been drained.
  void QuickGame() {
    KeyAt(next, 'P');
    KeyAt(next, ' ');
    KeyAt(next, kEscKey);
    last_prompt_at = next + 1;
    KeyAt(last_prompt_at, ' ');
    next += kStep;
  }
  // The key that ends the rest message, after everything else.
  void PassTheRestMessage() { KeyAt(next + 100 * kStep, ' '); }
  void Quit() { Key(kEscKey); }
  static int Run(bool has_save = false) { return RunMainMenu(has_save); }
  static bool MenuShown(const MemoryTerminal& t) { return TextAt(t, kPlayItem, 7) == "Play(P)"; }

  static constexpr std::uint64_t kStep = 1000;
  std::uint64_t next = kStep;
  std::uint64_t last_prompt_at = 0;
  // When the rest message was first seen: the moment of the key that made the menu snake bite.
  std::uint64_t rest_at = 0;
};

TEST_F(MainMenu, TheMenuSnakeUnrollsOneCellPerKeyAndEscNeverMovesIt) {
  std::vector<std::string> track;
  term.on_key_wait = [&](MemoryTerminal& t) { track.push_back(t.TextAt(20, 6, 8)); };
  Moves(1);
  KeyAt(next++, 'q');
  KeyAt(next++, 'Z');
  Quit();
  EXPECT_EQ(Run(), 0);
  ASSERT_EQ(track.size(), 4u);
  EXPECT_EQ(track[0], "        ") << "nothing of it shows before the first key";
  EXPECT_EQ(track[1], "  *     ");
  EXPECT_EQ(track[2], "  **    ");
  EXPECT_EQ(track[3], "  ***   ");
}

TEST_F(MainMenu, OneLapIsOneHundredAndEightyMoves) {
  std::string after_lap;
  std::string row_36;
  term.on_key_wait = [&](MemoryTerminal& t) {
    if (t.elapsed() == 180 * kStep) {
      after_lap = t.TextAt(20, 6, 63);
      row_36 = t.TextAt(20, 36, 63);
    }
  };
  Moves(180);
  Quit();
  Run();
  // Length 102: the last 102 cells of the lap, which end on (21, 6) coming up column 21.
  EXPECT_EQ(after_lap.substr(1, 1), "*") << "the head is back on the corner";
  EXPECT_EQ(after_lap.substr(2), std::string(61, ' '));
  EXPECT_EQ(row_36, " " + std::string(61, '*') + " ");
}

TEST_F(MainMenu, LowerCaseKeysActAndArrowsAreTwoPasses) {
  std::vector<std::string> seen;
  term.on_key_wait = [&](MemoryTerminal& t) { seen.push_back(TextAt(t, kHelpPrompt, 26)); };
  KeyAt(next, 224);
  Key(72);   // the up arrow: its code is H, the help
  Key(' ');  // passes the help
  Key('h');
  Key(' ');
  Quit();
  WriteFile("help.txt", "Rules\n");
  Run();
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ(seen[2], "Press any key to continue.");
  EXPECT_EQ(seen[4], "Press any key to continue.");
}

TEST_F(MainMenu, AnArrowMovesTheMenuSnakeTwoCells) {
  std::string track;
  term.PressArrow(80);  // down: the code of P starts a game
  KeyAt(0, ' ');
  KeyAt(0, kEscKey);
  KeyAt(1, ' ');
  KeyAt(2, kEscKey);
  term.on_key_wait = [&](MemoryTerminal& t) {
    if (t.elapsed() == 1 && MenuShown(t)) track = t.TextAt(20, 6, 5);
  };
  Run();
  EXPECT_EQ(track, "  ** ") << "the menu came back after the game, the snake two cells on";
}

TEST_F(MainMenu, ContinueShowsOnlyAfterAGameLeftASaveFile) {
  std::vector<bool> offered;
  term.on_key_wait = [&](MemoryTerminal& t) {
    if (MenuShown(t)) offered.push_back(TextAt(t, kContinueItem, 11) == "Continue(C)");
  };
  KeyAt(next, 'P');
  KeyAt(next, ' ');
  KeyAt(next, 'S');
  KeyAt(next + 1, 'Y');
  KeyAt(next + 200, kEscKey);
  KeyAt(next + 300, ' ');
  next += kStep;
  Moves(1);
  Quit();
  Run(false);
  ASSERT_GE(offered.size(), 2u);
  EXPECT_FALSE(offered.front());
  EXPECT_TRUE(offered.back());
  EXPECT_TRUE(Exists("save.dat"));
}

TEST_F(MainMenu, TheHelpNeverChangesWhetherContinueIsOffered) {
  std::vector<bool> offered;
  term.on_key_wait = [&](MemoryTerminal& t) {
    if (MenuShown(t)) offered.push_back(TextAt(t, kContinueItem, 11) == "Continue(C)");
  };
  Key('H');  // no "save.dat" on disk, but the menu was told there is one
  Key(' ');
  QuickGame();  // read again after a game
  Quit();
  Run(true);
  EXPECT_EQ(offered, (std::vector<bool>{true, true, false}));
}

TEST_F(MainMenu, ContinueWithoutASavedGameShowsTheDamagedMessageAndStillGrowsTheSnake) {
  std::string message;
  term.on_sleep = [&](MemoryTerminal& t) { message = TextAt(t, kDamagedLine, 28); };
  for (int game = 0; game < 79; ++game) Key('c');
  Moves(200);
  PassTheRestMessage();
  Run();
  EXPECT_EQ(message, "The game archive is DAMAGED!");
  EXPECT_NE(rest_at, 0u) << "79 games grew the snake long enough to bite";
}

TEST_F(MainMenu, AfterSeventyEightGamesTheMenuSnakeRunsForEver) {
  for (int game = 0; game < 78; ++game) QuickGame();
  Moves(3 * 180);
  Quit();
  // As long as the track, the snake covers all of it: at every move its head enters the cell the
  // tail has just left, and is drawn there after the blank.
  const auto watch_for_rest = term.on_key_wait;
  int shown = 0;
  term.on_key_wait = [&](MemoryTerminal& t) {
    watch_for_rest(t);
    shown = 0;
    for (int y = 6; y <= 36; ++y) {
      for (int x = 21; x <= 81; ++x) shown += t.CharAt(x, y) == '*';
    }
  };
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(rest_at, 0u);
  EXPECT_EQ(shown, 180);
}

TEST_F(MainMenu, TheSeventyNinthGameBitesOnTheHundredAndEightiethMove) {
  for (int game = 0; game < 79; ++game) QuickGame();  // 79 moves, one after each game
  const std::uint64_t first_move = next;
  Moves(120);
  PassTheRestMessage();
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(rest_at, first_move + 100 * kStep) << "its 101st key of its own is the 180th move";
}

TEST_F(MainMenu, AfterALapTheSeventyNinthGameBitesAtTheStepThatFollowsIt) {
  Moves(200);
  for (int game = 0; game < 79; ++game) QuickGame();
  Moves(5);
  PassTheRestMessage();
  Run();
  EXPECT_EQ(rest_at, last_prompt_at);
}

TEST_F(MainMenu, TheRestMessageDiscardsEarlierKeysAndLeadsToTheFarewell) {
  std::vector<std::string> farewell;
  term.on_sleep = [&](MemoryTerminal& t) {
    farewell.push_back(t.TextAt(38, 20, 24));
    EXPECT_EQ(t.ColourAt(38, 20), Colour::LightBlue);
    EXPECT_EQ(t.TextAt(36, 13, 28), std::string(28, ' ')) << "the playfield was cleared";
  };
  Moves(200);
  for (int game = 0; game < 79; ++game) QuickGame();
  for (int i = 0; i < 5; ++i) KeyAt(last_prompt_at, 'x');  // pending when the rest message shows
  const std::uint64_t dismissed = next + 100 * kStep;
  KeyAt(dismissed, ' ');
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(farewell, std::vector<std::string>{"Thanks for your playing!"});
  EXPECT_EQ(term.elapsed(), dismissed + 2000) << "the last paced wait was long before";
  EXPECT_EQ(Row(20), "") << "the screen is cleared at the very end";
}

TEST_F(MainMenu, TheFarewellWaitsFromTheLastPacedWait) {
  Quit();
  Run();
  EXPECT_EQ(term.elapsed(), kStep + 2000u) << "no paced wait before: the full 2000 ms";

  AttachTerminal(term);
  WaitPaced(0);
  const auto stay_from = term.elapsed();
  KeyAt(stay_from + 10'000, kEscKey);
  Run();
  EXPECT_EQ(term.elapsed(), stay_from + 10'000) << "ten seconds on the menu: at once";
}

}  // namespace
