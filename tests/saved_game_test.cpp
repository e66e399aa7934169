// The saved game: the dialog, the file's exact bytes, the reading rules and every file that must
// not break the game.

#include <gtest/gtest.h>

#include <filesystem>

#include "game/game.h"
#include "game/game_state.h"
#include "support/game_test.h"

namespace {

using SavedGameFile = GameTest;

const char* const kExample =
    "[snake info]\n3 2\n50 20\n49 20\n[food info]\n10 5\n[game info]\n0 100\n";

std::vector<Point> BodyOf(const std::optional<SavedGame>& game) {
  return game ? game->body : std::vector<Point>{};
}

TEST_F(SavedGameFile, SaveThenContinueBringsBackTheSameGameWaitingForAKey) {
  WriteFile("save.dat", SaveText(kRight, {{50, 20}, {49, 20}, {48, 20}}, {70, 30}, 7, 60));
  KeyAt(0, ' ');
  KeyAt(0, 'H');  // up, then save
  KeyAt(0, 'S');
  KeyAt(500, 'y');
  KeyAt(700, 'K');  // play on after the save, then end
  KeyAt(900, kEscKey);
  KeyAfterTheEnd();
  RunGame(true);
  const std::string saved = ReadFile("save.dat");
  EXPECT_EQ(saved, SaveText(kUp, {{50, 19}, {50, 20}, {49, 20}}, {70, 30}, 7, 60));

  // Continue: the same cells in the same order, the panel from the file, no move before a key.
  frames.clear();
  AttachTerminal(term);
  bool checked = false;
  term.on_key_wait = [&](MemoryTerminal& t) {
    if (checked) return;
    checked = true;
    EXPECT_EQ(t.TextAt(49, 19, 3), " * ");
    EXPECT_EQ(t.TextAt(49, 20, 3), "** ");
    EXPECT_EQ(t.CharAt(70, 30), '$');
    EXPECT_EQ(TextAt(t, kHeadCell, 10), "( 50,  19)");
    EXPECT_EQ(TextAt(t, kScoreLine, 17), "Your score:     1");  // length - 2 on the first draw
    EXPECT_EQ(TextAt(t, kDelayLine, 14), "Delay:   60 ms");
  };
  const auto now = term.elapsed();
  KeyAt(now + 10, ' ');
  KeyAt(now + 20, kEscKey);
  KeyAt(now + kTheEnd, ' ');
  RunGame(true);
  EXPECT_TRUE(checked);
  ASSERT_EQ(frames.size(), 1u);
  EXPECT_EQ(HeadAt(0), (Point{50, 18})) << "still heading up";
  EXPECT_EQ(TextAt(frames[0], kScoreLine, 17), "Your score:     7");  // the file's score on a tick
  EXPECT_EQ(ReadFile("save.dat"), saved) << "a load never changes the file";
}

TEST_F(SavedGameFile, TheDialogAsksDrainsAndAnswersOnlyToYOrEsc) {
  WriteFile("save.dat", kExample);
  std::vector<std::string> shown;
  KeyAt(0, ' ');
  KeyAt(0, 'S');
  KeyAt(0, 'n');  // pending when the dialog opens: drained
  KeyAt(300, 'n');
  KeyAt(300, 224);
  KeyAt(300, 72);
  KeyAt(400, kEscKey);  // no save
  KeyAt(400, 'S');
  KeyAt(600, 'Y');  // saved
  KeyAt(600, kEscKey);
  KeyAfterTheEnd();
  term.on_key_wait = [&](MemoryTerminal& t) { shown.push_back(TextAt(t, kSaveQuestion, 27)); };
  RunGame(true);
  // Each key read shows what stood on the question's row; the drained key was read before it.
  ASSERT_GE(shown.size(), 4u);
  EXPECT_EQ(shown[2], std::string(27, ' '));
  EXPECT_EQ(shown[3], "Save the game and continue?");
  EXPECT_EQ(Text(kSaveAnswers, 12), "            ") << "the panel was cleared again";
  // The first dialog opens before any tick; one tick runs before the second.
  EXPECT_EQ(ReadFile("save.dat"), SaveText(kRight, {{51, 20}, {50, 20}}, {10, 5}, 0, 100));
}

TEST_F(SavedGameFile, EscInTheDialogWritesNothingAndTheNextTickRunsAtOnce) {
  WriteFile("save.dat", kExample);
  KeyAt(0, ' ');
  KeyAt(50, 'S');  // taken after the first tick
  KeyAt(5000, kEscKey);
  KeyAt(5000, kEscKey);
  KeyAfterTheEnd();
  RunGame(true);
  EXPECT_EQ(ReadFile("save.dat"), kExample);
  // The dialog's time counted toward the tick that followed it: only the first tick slept.
  ASSERT_EQ(frame_times.size(), 1u);
  EXPECT_EQ(frame_times[0], 0u);
  EXPECT_EQ(term.CharAt(52, 20), '*');
  EXPECT_EQ(term.bells(), 2);  // the question, then GAME OVER
}

TEST_F(SavedGameFile, ASaveThatCannotBeWrittenIsReportedAndTheOldOneKept) {
  SKIP_WITHOUT_FULL_DISK();
  WriteFile("save.dat", kExample);
  const FullDisk full;
  KeyAt(0, ' ');
  KeyAt(0, 'S');
  KeyAt(3000, 'y');  // long after the last paced wait: the message still stands two seconds
  KeyAt(5150, kEscKey);
  KeyAfterTheEnd();
  RunGame(true);
  ASSERT_EQ(frames.size(), 3u) << "the message, then two ticks";
  EXPECT_EQ(TextAt(frames[0], kSaveFailure, 34), "Cannot write the file \"save.dat\" !");
  EXPECT_EQ(frame_times[0], 3000u);
  EXPECT_EQ(frame_times[1], 5000u) << "the message stood two seconds from when it showed";
  EXPECT_EQ(frames[1].Row(kSaveFailure.y).find("Cannot"), std::string::npos) << "and was cleared";
  EXPECT_EQ(frame_times[2], 5100u) << "the tick after it keeps the normal pace";
  EXPECT_EQ(ReadFile("save.dat"), kExample);
}

// U grows a snake far past the playfield's cells: every save up to the largest file the reader
// takes reads back, and one byte more is not written.
TEST_F(SavedGameFile, EverySaveUpToTheLargestFileReadsBack) {
  Game game;
  const std::size_t nodes = (kLargestSaveFile - 64) / 6;  // lines of "99 39\n"
  for (std::size_t i = 2; i < nodes; ++i) game.snake.Grow();
  game.snake.PlaceBody(std::vector<Point>(nodes, Point{99, 39}));
  game.food = {10, 5};
  for (game.score = 1; FormatSavedGame(SavedGameOf(game)).size() < kLargestSaveFile;)
    game.score *= 10;
  ASSERT_EQ(FormatSavedGame(SavedGameOf(game)).size(), kLargestSaveFile);
  ASSERT_TRUE(WriteSavedGame(game));
  Game loaded;
  ASSERT_TRUE(LoadSavedGame(loaded));
  EXPECT_EQ(FormatSavedGame(SavedGameOf(loaded)), FormatSavedGame(SavedGameOf(game)));

  game.food = {10, 10};
  EXPECT_FALSE(WriteSavedGame(game));
  EXPECT_EQ(ReadFile("save.dat"), FormatSavedGame(SavedGameOf(loaded)));
}

TEST_F(SavedGameFile, ConsecutiveSavesKeepTheLastAndTheFileIsReplacedWhole) {
  WriteFile("save.dat", kExample);
  KeyAt(0, ' ');
  KeyAt(0, 'S');
  KeyAt(1, 'Y');
  KeyAt(150, 'S');
  KeyAt(300, 'Y');
  KeyAt(300, kEscKey);
  KeyAfterTheEnd();
  RunGame(true);
  EXPECT_EQ(ReadFile("save.dat"), SaveText(kRight, {{52, 20}, {51, 20}}, {10, 5}, 0, 100));
  EXPECT_EQ(Files(), std::set<std::string>{"save.dat"});
}

TEST(SaveFormat, WritesTheExampleFileExactly) {
  Game game;
  game.snake.PlaceBody(std::vector<Point>{{50, 20}, {49, 20}});
  game.food = {10, 5};
  EXPECT_EQ(FormatSavedGame(SavedGameOf(game)), kExample);
}

TEST(SaveReading, FollowsTheGamesOwnRules) {
  const auto example = ParseSavedGame(kExample);
  ASSERT_TRUE(example);
  EXPECT_EQ(example->direction, kRight);
  EXPECT_EQ(example->body, (std::vector<Point>{{50, 20}, {49, 20}}));
  EXPECT_EQ(example->food, (Point{10, 5}));
  EXPECT_EQ(example->score, 0);
  EXPECT_EQ(example->delay_ms, 100);

  // The first character must not be a digit: the skip needs at least one non-digit.
  EXPECT_FALSE(ParseSavedGame("3 2\n50 20\n49 20\n"));
  // Section names are not read; any run of non-digits will do, and a minus sign before a
  // section's first number goes with it.
  const auto loose = ParseSavedGame("x-3 2\n50 20 49 20 food: -7 8 game -5 60");
  ASSERT_TRUE(loose);
  EXPECT_EQ(loose->direction, kRight);
  EXPECT_EQ(loose->food, (Point{7, 8}));
  EXPECT_EQ(loose->score, 5);
  EXPECT_EQ(loose->delay_ms, 60);
  // Counts of 0 and 1 read two node lines; a negative count too.
  for (const char* count : {"0", "1", "-1", "2"}) {
    const auto small = ParseSavedGame(std::string("[s]\n3 ") + count + "\n5 5\n6 5\n[f]\n9 9\n");
    EXPECT_EQ(BodyOf(small), (std::vector<Point>{{5, 5}, {6, 5}})) << count;
  }
  // More nodes than lines: a section line meets a node read.
  EXPECT_FALSE(ParseSavedGame("[s]\n3 3\n5 5\n6 5\n[food info]\n9 9\n"));
  // Surplus node lines become the food and game pairs; the rest is ignored.
  const auto surplus = ParseSavedGame("[s]\n3 2\n5 5\n6 5\n7 5\n8 5\n9 5\n[food info]\n1 1\n");
  ASSERT_TRUE(surplus);
  EXPECT_EQ(surplus->food, (Point{7, 5}));
  EXPECT_EQ(surplus->score, 8);
  EXPECT_EQ(surplus->delay_ms, 5);
  // No game pair: score 0 and delay 100; half a pair: the delay alone stays.
  const auto no_game = ParseSavedGame("[s]\n3 2\n5 5\n6 5\n[food info]\n9 9\n");
  ASSERT_TRUE(no_game);
  EXPECT_EQ(no_game->score, 0);
  EXPECT_EQ(no_game->delay_ms, 100);
  const auto half = ParseSavedGame("[s]\n3 2\n5 5\n6 5\n[f]\n9 9\n[g]\n12\n");
  ASSERT_TRUE(half);
  EXPECT_EQ(half->score, 12);
  EXPECT_EQ(half->delay_ms, 100);
  // A score that does not match the length, and a delay above 1000, are kept.
  const auto odd =
      ParseSavedGame("[s]\n3 2\n5 5\n6 5\n[f]\n9 9\n[g]\n40 1005\ntrailing text 1 2 3");
  ASSERT_TRUE(odd);
  EXPECT_EQ(odd->score, 40);
  EXPECT_EQ(odd->delay_ms, 1005);
  // Windows line ends read the same.
  EXPECT_TRUE(ParseSavedGame("[snake info]\r\n3 2\r\n50 20\r\n49 20\r\n"));
}

TEST(SaveReading, TurnsAwayFilesThatWouldBreakTheGame) {
  const std::string tail = "[food info]\n10 5\n[game info]\n0 100\n";
  EXPECT_FALSE(ParseSavedGame(""));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n"));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3"));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n4 2\n50 20\n49 20\n" + tail)) << "no heading";
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 3725\n50 20\n")) << "more nodes than lines";
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2000000000\n")) << "no allocation from a count";
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n50 20\n100 20\n" + tail)) << "on the border";
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n50 1\n50 2\n" + tail));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n-5 20\n50 20\n" + tail));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n50 20\n49 20\n[f]\n1 1\n[g]\n0 0\n"));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n50 20\n49 20\n[f]\n1 1\n[g]\n0 -5\n"));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n50 20\n49 20\n[f]\n1 1\n[g]\n0 4294967396\n"));
  // 999 and D is the slowest the game itself goes: a longer delay would leave it deaf to every key.
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n50 20\n49 20\n[f]\n1 1\n[g]\n0 2000000000\n"));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n50 20\n49 20\n[f]\n1 1\n[g]\n0 1010\n"));
  EXPECT_TRUE(ParseSavedGame("[snake info]\n3 2\n50 20\n49 20\n[f]\n1 1\n[g]\n0 1009\n"));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n50 20\n49 20\n[f]\n99999999999 1\n"));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n50 20\n49 4294967316\n"));
  EXPECT_FALSE(ParseSavedGame("[snake info]\n3 2\n50 20\n49 20\n[g]\n2147483648 100\n"));
  EXPECT_TRUE(ParseSavedGame("[snake info]\n3 2\n50 20\n49 20\n[g]\n2147483647 100\n"));
}

TEST(SaveReading, FoodThatCannotBeUsedIsLeftForANewPlace) {
  const std::string snake = "[snake info]\n3 2\n50 20\n49 20\n";
  EXPECT_FALSE(ParseSavedGame(snake)->food) << "missing";
  EXPECT_FALSE(ParseSavedGame(snake + "[food info]\n10\n")->food) << "half a pair";
  EXPECT_FALSE(ParseSavedGame(snake + "[food info]\n0 5\n")->food) << "outside";
  EXPECT_FALSE(ParseSavedGame(snake + "[food info]\n49 20\n")->food) << "on the body";
}

TEST_F(SavedGameFile, AMissingOrDamagedFileShowsTheMessageAndReturns) {
  for (const char* contents : {static_cast<const char*>(nullptr), "", "7 2\n1 1\n", "[s]\n9 2\n"}) {
    std::filesystem::remove("save.dat");
    if (contents != nullptr) WriteFile("save.dat", contents);
    AttachTerminal(term);
    high_score = 4;
    const auto start = term.elapsed();
    std::size_t shown_bells = 0;
    std::string message;
    term.on_sleep = [&](MemoryTerminal& t) {
      message = TextAt(t, kDamagedLine, 28);
      shown_bells = static_cast<std::size_t>(t.bells());
    };
    const int bells_before = term.bells();
    RunGame(true);
    EXPECT_EQ(message, "The game archive is DAMAGED!");
    EXPECT_EQ(shown_bells, static_cast<std::size_t>(bells_before + 1));
    EXPECT_EQ(ColourAt(kDamagedLine), Colour::Red);
    EXPECT_EQ(term.CharAt(1, 1), '#') << "on a fresh frame";
    EXPECT_EQ(term.elapsed() - start, 2000u);
    EXPECT_EQ(high_score, 4);
    if (contents != nullptr) {
      EXPECT_EQ(ReadFile("save.dat"), contents);
    }
  }
}

TEST_F(SavedGameFile, AFileWithUnusableFoodPlacesItAfresh) {
  WriteFile("save.dat", "[snake info]\n3 2\n50 20\n49 20\n[food info]\n50 20\n");
  std::srand(9);
  const int x = std::rand() % 98 + 2;
  const int y = std::rand() % 38 + 2;
  std::srand(9);
  KeyAt(0, ' ');
  KeyAt(0, kEscKey);
  KeyAfterTheEnd();
  RunGame(true);
  EXPECT_EQ(term.CharAt(x, y), '$');
  EXPECT_EQ(term.CharAt(50, 20), '*');
}

TEST_F(SavedGameFile, AHeadSavedOnItsOwnBodyEndsTheGameAtTheFirstBiteTest) {
  WriteFile("save.dat",
            SaveText(kRight, {{50, 20}, {51, 20}, {51, 21}, {50, 20}}, {10, 5}, 0, 100));
  KeyAt(0, 'M');
  KeyAfterTheEnd();
  RunGame(true);
  EXPECT_TRUE(frames.empty()) << "no tick";
  EXPECT_EQ(Text(kGameOverTitle, 11), "GAME OVER !");
}

}  // namespace
