// The console operations on the in-memory terminal: cursor rules, colours, the bell, the shared
// pacing of WaitPaced, the keyboard and files.

#include <gtest/gtest.h>

#include "support/console_test.h"

namespace {

using ConsoleLayer = ConsoleTest;

TEST_F(ConsoleLayer, TextFollowsTheCursorRules) {
  GotoXY(3, 2);
  WriteText("ab\ncd");
  EXPECT_EQ(Row(2), "   ab");
  EXPECT_EQ(Row(3), "cd");

  GotoXY(0, 5);
  WriteText("x\ty\tz");  // tab stops every 8 columns, beyond the cursor
  EXPECT_EQ(Row(5), "x       y       z");
  GotoXY(8, 6);
  WriteText("\t!");
  EXPECT_EQ(Text(8, 6, 9), "        !");

  GotoXY(152, 7);
  WriteText("wrap");  // column 154 is the last; the text goes on at column 0 of the next row
  EXPECT_EQ(Text(152, 7, 3), "wra");
  EXPECT_EQ(Row(8), "p");
  GotoXY(150, 9);
  WriteText("\t.");
  EXPECT_EQ(term.CharAt(152, 9), '.');
  GotoXY(153, 9);
  WriteText("\tq");  // no tab stop left on the row
  EXPECT_EQ(Row(10), "q");
}

TEST_F(ConsoleLayer, MovesOffTheScreenLeaveTheCursorAndNothingScrolls) {
  GotoXY(10, 10);
  GotoXY(155, 3);
  GotoXY(-1, 3);
  GotoXY(3, 42);
  WriteText("here");
  EXPECT_EQ(Text(10, 10, 4), "here");

  GotoXY(150, 41);
  WriteText("0123456789");
  EXPECT_EQ(Text(150, 41, 5), "01234");
  EXPECT_EQ(Row(0), "");  // the rest was dropped, not scrolled or wrapped to the top
  GotoXY(0, 41);
  WriteText("\nlost");
  EXPECT_EQ(Row(41).substr(0, 4), "    ");
}

TEST_F(ConsoleLayer, ColoursStayUntilChangedAndTheBellFillsNoCell) {
  SetColour(Colour::Red);
  PutCharAt(4, 4, '#');
  WriteText("a\ab");
  SetColour(Colour::Normal);
  PutCharAt(20, 4, 'n');
  EXPECT_EQ(term.ColourAt(4, 4), Colour::Red);
  EXPECT_EQ(Text(4, 4, 3), "#ab");
  EXPECT_EQ(term.ColourAt(6, 4), Colour::Red);
  EXPECT_EQ(term.ColourAt(20, 4), Colour::Normal);
  EXPECT_EQ(term.bells(), 1);
}

TEST_F(ConsoleLayer, ControlBytesAreDrawnAsQuestionMarks) {
  GotoXY(0, 0);
  WriteText("a\x1b[31m\r\x7f\x01z");
  EXPECT_EQ(Row(0), "a?[31m???z");
  EXPECT_EQ(term.ColourAt(1, 0), Colour::Normal);
}

TEST_F(ConsoleLayer, LongFormattedTextIsWrittenWhole) {
  const std::string long_text(300, 'x');
  GotoXY(0, 0);
  WriteText("%s!", long_text.c_str());
  EXPECT_EQ(Row(0), std::string(155, 'x'));
  EXPECT_EQ(Row(1), std::string(145, 'x') + "!");
}

TEST_F(ConsoleLayer, ClearBlanksEverythingAndHomesTheCursor) {
  GotoXY(50, 20);
  WriteText("text");
  ClearScreen();
  WriteText("top");
  EXPECT_EQ(Row(0), "top");
  EXPECT_EQ(Row(20), "");
}

TEST_F(ConsoleLayer, ClearPlayfieldKeepsTheBorderAndThePanel) {
  for (int y = 0; y < kScreenHeight; ++y) {
    GotoXY(0, y);
    WriteText("%s", std::string(kScreenWidth, '#').c_str());
  }
  ClearPlayfield();
  EXPECT_EQ(Text(0, 2, 3), "## ");
  EXPECT_EQ(Text(99, 39, 2), " #");
  EXPECT_EQ(Text(2, 1, 98), std::string(98, '#'));
  EXPECT_EQ(Text(2, 40, 98), std::string(98, '#'));
  EXPECT_EQ(Text(2, 20, 98), std::string(98, ' '));
}

TEST_F(ConsoleLayer, WaitPacedSharesOneMarkAcrossCalls) {
  const auto start = term.elapsed();
  WaitPaced(500);  // the first paced wait of all waits the full time
  EXPECT_EQ(term.elapsed() - start, 500u);

  term.Advance(30);
  WaitPaced(100);  // time spent since the last wait counts toward this one
  EXPECT_EQ(term.elapsed() - start, 600u);

  WaitPaced(0);
  EXPECT_EQ(term.elapsed() - start, 600u);

  term.Advance(10'000);
  WaitPaced(2000);  // long after the last one: at once
  EXPECT_EQ(term.elapsed() - start, 10'600u);
  WaitPaced(5);
  EXPECT_EQ(term.elapsed() - start, 10'605u);
}

TEST(ConsoleClock, WaitPacedEndsOnTimeAcrossTheWrapOfTheTickCount) {
  MemoryTerminal term(0xFFFF'FF00u);
  AttachTerminal(term);
  WaitPaced(100);
  WaitPaced(300);  // the tick count wraps from 4294967295 to 0 during this wait
  EXPECT_EQ(term.elapsed(), 400u);
  EXPECT_EQ(term.Now(), 0x90u);
}

TEST_F(ConsoleLayer, KeysArriveOneCodeAtATime) {
  term.Type("aB");
  term.PressArrow(72);
  term.Press(200);
  EXPECT_EQ(WaitKey(), 'A');
  EXPECT_EQ(WaitKey(), 'B');
  EXPECT_EQ(WaitKey(), static_cast<char>(224));  // only the prefix of the arrow
  ASSERT_TRUE(KeyHit());
  EXPECT_EQ(WaitKey(), 'H');  // the up arrow's own code is the code of H
  EXPECT_EQ(WaitKey(), static_cast<char>(200));
}

TEST_F(ConsoleLayer, DrainKeysTakesOnlyWhatIsWaiting) {
  DrainKeys();
  EXPECT_EQ(term.elapsed(), 0u);

  term.Type("xyz");
  term.PressAt(50, 'q');
  DrainKeys();
  EXPECT_EQ(term.pending_keys(), 1u);
  EXPECT_EQ(term.elapsed(), 0u);
  EXPECT_EQ(WaitKey(), 'Q');
  EXPECT_EQ(term.elapsed(), 50u);
  EXPECT_THROW(WaitKey(), NoMoreKeys);
}

TEST_F(ConsoleLayer, FileExistsOpensAndClosesWithoutCreating) {
  EXPECT_FALSE(FileExists("missing.txt"));
  EXPECT_FALSE(Exists("missing.txt"));
  WriteFile("there.txt", "x");
  EXPECT_TRUE(FileExists("there.txt"));
  EXPECT_TRUE(std::filesystem::remove("there.txt"));  // nothing holds it open
}

TEST_F(ConsoleLayer, ReplaceFileIsAllOrNothing) {
  EXPECT_TRUE(ReplaceFile("data.txt", "first\n"));
  EXPECT_TRUE(ReplaceFile("data.txt", "second\n"));
  EXPECT_EQ(ReadFile("data.txt"), "second\n");

  // A folder where the file should be cannot be replaced by it.
  std::filesystem::create_directory("taken");
  std::filesystem::create_directory("taken/inside");
  EXPECT_FALSE(ReplaceFile("taken", "x"));
  EXPECT_TRUE(std::filesystem::is_directory("taken/inside"));
  EXPECT_EQ(Files(), (std::set<std::string>{"data.txt", "taken"})) << "no temporary file is left";
}

TEST_F(ConsoleLayer, ReplaceFileLeavesPlantedTemporaryNamesAlone) {
  const std::set<std::string> planted = {"save.dat.tmp", "save.dat.00000000.tmp",
                                         "save.dat.ffffffff.tmp"};
  for (const std::string& name : planted) WriteFile(name, "planted\n");
  for (int i = 0; i < 20; ++i) ASSERT_TRUE(ReplaceFile("save.dat", std::to_string(i)));
  EXPECT_EQ(ReadFile("save.dat"), "19");
  for (const std::string& name : planted) EXPECT_EQ(ReadFile(name), "planted\n") << name;
  std::set<std::string> expected = planted;
  expected.insert("save.dat");
  EXPECT_EQ(Files(), expected) << "no temporary file of its own is left";
}

TEST_F(ConsoleLayer, ReplaceFileOnAFullDiskKeepsTheOldFile) {
  SKIP_WITHOUT_FULL_DISK();
  WriteFile("data.txt", "second\n");
  // The temporary file cannot take the bytes, and the old file stays whole.
  {
    const FullDisk full;
    EXPECT_FALSE(ReplaceFile("data.txt", "third\n"));
  }
  EXPECT_EQ(ReadFile("data.txt"), "second\n");
  EXPECT_EQ(Files(), (std::set<std::string>{"data.txt"})) << "no temporary file is left";
}

}  // namespace
