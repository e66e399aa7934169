// The console operations on the in-memory terminal: cursor rules, colours, the bell, the shared
// pacing of WaitPaced, the keyboard and files.

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "support/console_test.h"

namespace {

using ConsoleLayer = ConsoleTest;

// In the browser build, as on Windows, there is one user, the owner of every file.
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
// While it lives, the test acts as a player who shares files with their group; run as root, it
// takes user and group 65534 and gives them the working folder, so that permissions hold.
struct AsPlayer {
  AsPlayer() {
    EXPECT_TRUE(::getuid() != 0 || (::chown(".", 65534, 65534) == 0 && ::setegid(65534) == 0 &&
                                    ::seteuid(65534) == 0));
  }
  ~AsPlayer() {
    EXPECT_TRUE(::getuid() != 0 || (::seteuid(0) == 0 && ::setegid(0) == 0));
    ::umask(umask_before);
  }
  AsPlayer(const AsPlayer&) = delete;
  AsPlayer& operator=(const AsPlayer&) = delete;
  AsPlayer(AsPlayer&&) = delete;
  AsPlayer& operator=(AsPlayer&&) = delete;
  const mode_t umask_before = ::umask(002);
};
#else
struct AsPlayer {
  AsPlayer() {}  // the player the test runs as
};
#endif

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

// A file the player may not write is not replaced, a replaced file keeps its permissions and a new
// one takes the usual ones; in a folder closed to the player, their file is written over in place.
TEST_F(ConsoleLayer, ReplaceFileKeepsWhatThePlayerSetOnTheFile) {
  namespace fs = std::filesystem;
  struct Case {
    const char* folder;
    fs::perms folder_mode, file_mode;  // file_mode unknown: no file there
    bool replaced;
  } const cases[] = {
      {"read-only", fs::perms(0755), fs::perms(0444), false},
      {"private", fs::perms(0755), fs::perms(0600), true},
      {"new", fs::perms(0755), fs::perms::unknown, true},
#ifndef _WIN32  // Windows lets anyone make files in a read-only folder
      {"closed", fs::perms(0555), fs::perms(0640), true},
      {"closed, new", fs::perms(0555), fs::perms::unknown, false},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder);
    const AsPlayer player;
    const std::string path = std::string(c.folder) + "/score.dat";
    const bool had_file = c.file_mode != fs::perms::unknown;
    fs::create_directory(c.folder);
    WriteFile("usual", "");  // a new file, as any program makes it
    if (had_file) WriteFile(path, "old\n");
    if (had_file) fs::permissions(path, c.file_mode);
    const fs::perms mode = fs::status(had_file ? path : "usual").permissions();
    fs::permissions(c.folder, c.folder_mode);
    EXPECT_EQ(ReplaceFile(path.c_str(), "new\n"), c.replaced);
    EXPECT_EQ(ReadFile(path), c.replaced ? "new\n" : had_file ? "old\n" : "<missing>");
    EXPECT_EQ(Exists(path) ? fs::status(path).permissions() : mode, mode);
    fs::permissions(c.folder, fs::perms::owner_all, fs::perm_options::add);
    if (Exists(path)) fs::permissions(path, fs::perms::owner_write, fs::perm_options::add);
  }
#if !defined(_WIN32) && !defined(__EMSCRIPTEN__)
  // A file stays its owner's, whoever replaces it: root gives its copy back to the player, and the
  // player writes a shared file of root's over in place.
  if (::getuid() != 0) return;
  WriteFile("shared", "old\n");
  fs::permissions("shared", fs::perms(0666));
  EXPECT_TRUE(ReplaceFile("private/score.dat", "root\n"));
  {
    const AsPlayer player;
    EXPECT_TRUE(ReplaceFile("shared", "new\n"));
  }
  struct stat info {};
  EXPECT_TRUE(::stat("shared", &info) == 0 && info.st_uid == 0 && ReadFile("shared") == "new\n");
  EXPECT_TRUE(::stat("private/score.dat", &info) == 0 && info.st_uid == 65534);
  // Read-only is read-only for root too, who could open the file for writing all the same.
  fs::permissions("shared", fs::perms(0444));
  EXPECT_FALSE(ReplaceFile("shared", "root\n"));
  EXPECT_EQ(ReadFile("shared"), "new\n");
#endif
}

// A link stays a link and its file takes the new contents; every name of a file with several
// shows them.
TEST_F(ConsoleLayer, ReplaceFileWritesThroughLinks) {
  namespace fs = std::filesystem;
  fs::create_directories("game");
  fs::create_directories("shared");
  WriteFile("shared/score.dat", "5\n");
#ifndef __EMSCRIPTEN__  // the browser's file system has one name a file
  fs::create_hard_link("shared/score.dat", "game/also.dat");
  EXPECT_TRUE(ReplaceFile("game/also.dat", "6\n"));
  EXPECT_EQ(ReadFile("shared/score.dat"), "6\n") << "the other name shows the new text too";
#endif
#ifndef _WIN32  // making a symbolic link takes a privilege there
  fs::create_symlink("../shared/score.dat", "game/score.dat");
  fs::create_symlink("../shared/save.dat", "game/save.dat");  // its file is not there yet
  fs::create_symlink("../shared", "game/folder.dat");
  fs::create_symlink("loop.dat", "game/loop.dat");
  EXPECT_TRUE(ReplaceFile("game/score.dat", "7\n"));
  EXPECT_TRUE(ReplaceFile("game/save.dat", "saved\n"));
  EXPECT_FALSE(ReplaceFile("game/folder.dat", "x"));
  EXPECT_FALSE(ReplaceFile("game/loop.dat", "x"));
  EXPECT_EQ(ReadFile("shared/score.dat"), "7\n");
  EXPECT_EQ(ReadFile("shared/save.dat"), "saved\n");
  for (const char* link : {"game/score.dat", "game/save.dat", "game/folder.dat", "game/loop.dat"}) {
    EXPECT_TRUE(fs::is_symlink(link)) << link;
  }
#ifndef __EMSCRIPTEN__
  EXPECT_EQ(ReadFile("game/also.dat"), "7\n");
#endif
  const std::set<std::string> made = {"save.dat", "score.dat"};
#else
  const std::set<std::string> made = {"score.dat"};
#endif
  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator("shared")) {
    left.insert(entry.path().filename().string());
  }
  EXPECT_EQ(left, made) << "no temporary file is left";
}

// Whether the file is replaced by a copy or written over in place (where it has other names, or
// stands in a folder closed to the player), a disk without room for the new text keeps the old.
TEST_F(ConsoleLayer, ReplaceFileOnAFullDiskKeepsTheOldFile) {
  SKIP_WITHOUT_FULL_DISK();
  namespace fs = std::filesystem;
  const AsPlayer player;
  fs::create_directories("closed");
  WriteFile("data.txt", "second\n");
  WriteFile("linked.txt", "second\n");
  WriteFile("closed/data.txt", "second\n");
  fs::create_hard_link("linked.txt", "other name.txt");
  for (const char* path : {"data.txt", "linked.txt", "closed/data.txt"}) {
    SCOPED_TRACE(path);
    fs::permissions("closed", fs::perms(0555));
    {
      const FullDisk full(10);
      EXPECT_FALSE(ReplaceFile(path, "the third text, longer\n"));
    }
    fs::permissions("closed", fs::perms(0755));
    EXPECT_EQ(ReadFile(path), "second\n");
  }
  EXPECT_EQ(Files(), (std::set<std::string>{"closed", "data.txt", "linked.txt", "other name.txt"}))
      << "no temporary file is left";
}

}  // namespace
