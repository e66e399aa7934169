// The real program with game files full of garbage, replaced by folders, fifos or links, or that
// cannot be read, and in a folder where nothing can be written.

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "support/end_to_end.h"
#include "support/save_text.h"
#include "support/tmux_session.h"

namespace {

using std::chrono::milliseconds;

// ---- Hostile files ------------------------------------------------------------------------------

// What stands in place of one of the game's files, or beside them under a name the game might
// once have written to.
struct Hostile {
  enum class Kind { kAbsent, kText, kFolder, kFifo, kLink, kHardLink };
  Kind kind = Kind::kAbsent;
  std::string text;       // kText: what it holds; kLink and kHardLink: what it leads to
  bool plain = false;     // a plain file, or a link to one
  bool reads = false;     // and it can be read to its end
  bool writable = false;  // the game can write it, or a file in its place, or through it
};

// Files outside the game's folder, which the game changes only through a link of its own file.
constexpr const char* kOutside = "../outside.txt";
constexpr const char* kOutsideSave = "../outside-save.txt";
const std::string kOutsideText = "a file outside the game's folder\n";

Hostile Text(std::string contents) {
  return {Hostile::Kind::kText, std::move(contents), true, true, true};
}
Hostile Folder() {
  return {Hostile::Kind::kFolder, {}, false, false, false};
}
Hostile Fifo() {
  return {Hostile::Kind::kFifo, {}, false, false, true};
}
Hostile LinkToOutside(std::string file = kOutside) {
  return {Hostile::Kind::kLink, std::move(file), true, true, true};
}
Hostile LinkToDevice(std::string device) {
  return {Hostile::Kind::kLink, std::move(device), false, false, false};
}
// A read of /proc/self/mem at its start fails: a plain file that cannot be read, nor written.
Hostile LinkToAFailingRead() {
  return {Hostile::Kind::kLink, "/proc/self/mem", true, false, false};
}
Hostile HardLinkToOutside(std::string file = kOutside) {
  return {Hostile::Kind::kHardLink, std::move(file), true, true, true};
}

struct Planted {
  const char* name;
  Hostile thing;
};

struct HostileCase {
  const char* name;
  Hostile score;
  Hostile save;
  Hostile help;
  // The best score as the game's side panel shows it, "%5d".
  const char* shown_best;
  // Whether the help text is short enough to leave the frame standing.
  bool help_keeps_frame;
  // A text the help shows on its first line, if known.
  const char* help_start;
  // Things under the names the game once used for its temporary files, to be left alone.
  std::vector<Planted> planted = {};
  // Shell lines for the game's start, such as its locale.
  std::string game_setup = {};
};

std::ostream& operator<<(std::ostream& out, const HostileCase& hostile) {
  return out << hostile.name;
}

std::string RandomBytes(std::size_t count, unsigned seed) {
  std::mt19937 generator(seed);
  std::string bytes;
  for (std::size_t i = 0; i < count; ++i) bytes += static_cast<char>(generator() & 0xff);
  return bytes;
}

// Sequences that would clear the screen, set the window title, change colours, show the cursor
// and leave the alternate screen, were they to reach the terminal.
const std::string kEscapes = "\x1b[2J\x1b]0;pwned\x07\x1b[31m\x1b[?25h\x1b[?1049l";

std::vector<HostileCase> HostileCases() {
  std::string random_score = RandomBytes(4096, 1);
  random_score[0] = 'x';  // so that it cannot start with a number by chance
  const std::string long_line(1 << 20, '7');
  // A saved game like any other, but for a tick of 23 days.
  const std::string slow_save = SaveText(kRight, {{50, 20}, {49, 20}}, {10, 10}, 0, 2000000000);
  return {
      {"RandomBytes", Text(random_score), Text(RandomBytes(4096, 2)), Text(RandomBytes(1500, 3)),
       "    0", false, nullptr},
      {"EscapeSequences", Text(kEscapes + "\n"), Text(kEscapes + "[snake info]\n3 2\n50 20\n"),
       Text(kEscapes + "after\n"), "    0", true, "?[2J?]0;pwned?[31m?[?25h?[?1049lafter"},
      {"HugeNumbers", Text("99999999999999999999\n"),
       Text("[snake info]\n3 2\n50 20\n49 20\n[food info]\n10 10\n[game info]\n"
            "99999999999999999999 100\n"),
       Text("99999999999999999999\n-2147483649\n"), "    0", true, "99999999999999999999"},
      {"NegativeNumbers", Text("-17\n"),
       Text(SaveText(kRight, {{-5, -5}, {-6, -5}}, {-1, -1}, -3, -100)), Text("-1\n"), "  -17",
       true, "-1"},
      // A megabyte on one line: the help runs over the whole screen, as a console would show it.
      {"VeryLongLines", Text(long_line), Text("[snake info]\n" + long_line + "\n"),
       Text(std::string(1 << 20, '=') + "\n"), "    0", false, "====="},
      {"AHugeDelay", Text("0\n"), Text(slow_save), Text("short help\n"), "    0", true,
       "short help"},
      {"FoldersInPlaceOfFiles", Folder(), Folder(), Folder(), "    0", true, nullptr},
      {"FifosInPlaceOfFiles",
       Fifo(),
       Fifo(),
       Fifo(),
       "    0",
       true,
       nullptr,
       {{"save.dat.tmp", HardLinkToOutside()}, {"score.dat.tmp", Fifo()}},
       {}},
      {"LinksToDevices", LinkToDevice("/dev/zero"), LinkToDevice("/dev/tty"),
       LinkToDevice("/dev/urandom"), "    0", true, nullptr},
      {"LinksOutOfTheFolder",
       LinkToOutside(),
       HardLinkToOutside(kOutsideSave),
       LinkToOutside(),
       "    0",
       true,
       "a file outside the game's folder",
       {{"save.dat.tmp", LinkToOutside()}, {"score.dat.tmp", HardLinkToOutside()}}},
      {"FilesThatFailToRead", LinkToAFailingRead(), LinkToAFailingRead(), LinkToAFailingRead(),
       "    0", true, nullptr},
      // Bytes from 128 up that a terminal of another character set would take as controls: CSI
      // ? 7 l (no more wrapping) and OSC 0 ; title BEL.
      {"NotAUtf8Locale",
       Text("-5\n"),
       Text("[snake info]\n\xbe?7l\n"),
       Text("\xbe?7l\xbc"
            "0;TITLE\a after\n"),
       "   -5",
       true,
       "??7l?0;TITLE after",
       {},
       "LANG=C"},
  };
}

class HostileFilesTest : public ::testing::TestWithParam<HostileCase> {
 protected:
  static void PutInPlace(const TmuxSession& session, const std::string& name, const Hostile& file) {
    const std::filesystem::path path = session.folder() / name;
    switch (file.kind) {
      case Hostile::Kind::kAbsent:
        break;
      case Hostile::Kind::kText:
        session.WriteFile(name, file.text);
        break;
      case Hostile::Kind::kFolder:
        std::filesystem::create_directory(path);
        break;
      case Hostile::Kind::kFifo:
        ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0);
        break;
      case Hostile::Kind::kLink:
        std::filesystem::create_symlink(file.text, path);
        break;
      case Hostile::Kind::kHardLink:
        std::filesystem::create_hard_link(session.folder() / file.text, path);
        break;
    }
  }

  // Whether `name` is still what was put there.
  static void ExpectUntouched(const TmuxSession& session, const std::string& name,
                              const Hostile& file) {
    const std::filesystem::path path = session.folder() / name;
    const auto status = std::filesystem::symlink_status(path);
    switch (file.kind) {
      case Hostile::Kind::kAbsent:
        break;
      case Hostile::Kind::kText:
        EXPECT_EQ(session.ReadFile(name), file.text) << name;
        break;
      case Hostile::Kind::kFolder:
        EXPECT_TRUE(std::filesystem::is_directory(status)) << name;
        break;
      case Hostile::Kind::kFifo:
        EXPECT_TRUE(std::filesystem::is_fifo(status)) << name;
        break;
      case Hostile::Kind::kLink:
        EXPECT_TRUE(std::filesystem::is_symlink(status)) << name;
        break;
      case Hostile::Kind::kHardLink:
        EXPECT_TRUE(std::filesystem::equivalent(path, session.folder() / file.text)) << name;
        break;
    }
  }
};

// Whatever stands in place of the files, the game neither crashes nor hangs, no byte from them
// reaches the terminal as a control sequence, only plain files are read, a damaged saved game is
// turned away, a best score that is no number counts as 0, and a new best score or a save takes
// the place of what stood there, or is written through a link to a file, which stays a link. No
// other file is written: not a device, nor a file under a name the game once used for a temporary
// one.
TEST_P(HostileFilesTest, TheGameShowsThemHarmlesslyAndGoesOn) {
  const HostileCase& hostile = GetParam();
  TmuxSession::Options options;
  options.game_setup = hostile.game_setup;
  TmuxSession session(options);
  session.WriteFile(kOutside, kOutsideText);
  session.WriteFile(kOutsideSave, kOutsideText);
  ASSERT_NO_FATAL_FAILURE(PutInPlace(session, "score.dat", hostile.score));
  ASSERT_NO_FATAL_FAILURE(PutInPlace(session, "save.dat", hostile.save));
  ASSERT_NO_FATAL_FAILURE(PutInPlace(session, "help.txt", hostile.help));
  for (const Planted& planted : hostile.planted) {
    ASSERT_NO_FATAL_FAILURE(PutInPlace(session, planted.name, planted.thing));
  }
  session.StartGame();
  ASSERT_TRUE(WaitForMenu(session));
  const std::string title = session.PaneTitle();
  if (hostile.save.plain) {
    ASSERT_TRUE(session.WaitForText(kContinueItem, "Continue(C)"))
        << "a saved game in a plain file counts as there, whatever it holds";
  } else {
    ASSERT_TRUE(session.WaitForText(HelpItem(false), "Help(H)"))
        << "no Continue without a saved game";
  }

  // The saved game is turned away, and the menu comes back.
  session.SendText("c");
  ASSERT_TRUE(session.WaitForColoured("the damaged archive in red", [](const Screen& screen) {
    return screen.TextAt(kDamagedLine, "The game archive is DAMAGED!") &&
           screen.Foreground(kDamagedLine) == kRed;
  }));
  ASSERT_TRUE(WaitForMenu(session));
  ExpectUntouched(session, "save.dat", hostile.save);

  // The help shows every byte as a character; none of them acts on the terminal.
  session.SendText("h");
  ASSERT_TRUE(session.WaitForText(kHelpPrompt, "Press any key to continue.", milliseconds(20000)));
  {
    const Screen screen = session.Capture();
    if (hostile.help_keeps_frame) ExpectFrame(screen);
    if (!hostile.help.plain) {
      EXPECT_TRUE(screen.TextAt(33, 14, "Cannot find the file \"help.txt\" !")) << screen.Row(14);
    } else if (hostile.help_start != nullptr) {
      EXPECT_TRUE(screen.TextAt(kHelpStart, hostile.help_start)) << screen.Row(kHelpStart.y);
    }
    EXPECT_EQ(session.PaneTitle(), title) << "the window title was changed";
    EXPECT_TRUE(session.AlternateScreen()) << "the alternate screen was left";
    EXPECT_FALSE(session.CursorVisible()) << "the cursor was shown";
  }
  ASSERT_TRUE(ContinueToMenu(session));
  ExpectFrame(session.Capture());

  // A game: the best score as read, then a point, a save, and a new best score.
  session.SendText("p");
  ASSERT_TRUE(session.WaitForText(kBestLine, std::string("High score: ") + hostile.shown_best));
  session.SendKeys({"Space", "u", "s"});
  ASSERT_TRUE(session.WaitForText(kSaveQuestion, "Save the game and continue?"));
  session.SendKeys({"y"});
  if (!hostile.save.writable) {
    ASSERT_TRUE(session.WaitForText(kSaveFailure, "Cannot write the file \"save.dat\" !"));
  }
  session.SendKeys({"Escape"});
  ASSERT_TRUE(WaitForGameOver(session));
  {
    const Screen screen = session.Capture();
    EXPECT_TRUE(screen.TextAt(kNewBestLine, "New High Score: ")) << screen.ToString();
    const int best = ShownNumber(screen, kNewBestLine, "New High Score: ");
    EXPECT_GE(best, 1);
    if (hostile.score.reads) {
      EXPECT_EQ(session.ReadFile("score.dat"), std::to_string(best) + "\n");
      if (hostile.score.kind == Hostile::Kind::kLink) {
        ExpectUntouched(session, "score.dat", hostile.score);
      } else {
        EXPECT_TRUE(std::filesystem::is_regular_file(
            std::filesystem::symlink_status(session.folder() / "score.dat")));
      }
    } else {
      EXPECT_TRUE(screen.TextAt(kBestFailure, "Cannot write the file \"score.dat\" !"));
      ExpectUntouched(session, "score.dat", hostile.score);
    }
  }
  ASSERT_TRUE(ContinueToMenu(session));
  ASSERT_NO_FATAL_FAILURE(QuitFromMenu(session));
  EXPECT_EQ(session.PaneTitle(), title);

  if (!hostile.save.writable) {
    ExpectUntouched(session, "save.dat", hostile.save);
  } else {
    EXPECT_TRUE(session.ReadFile("save.dat").value_or("").starts_with("[snake info]\n3 3\n"))
        << "the save replaced whatever stood there, or was written through its link";
    if (hostile.save.kind == Hostile::Kind::kHardLink) {
      ExpectUntouched(session, "save.dat", hostile.save);
    }
  }
  ExpectUntouched(session, "help.txt", hostile.help);
  for (const Planted& planted : hostile.planted) {
    ExpectUntouched(session, planted.name, planted.thing);
  }
  if (hostile.score.kind != Hostile::Kind::kLink || hostile.score.text != kOutside) {
    EXPECT_EQ(session.ReadFile(kOutside), kOutsideText) << "nothing else outside changes";
  }
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(session.folder())) {
    names.insert(entry.path().filename().string());
  }
  for (const std::string& name : names) {
    EXPECT_FALSE(name.ends_with(".tmp") && name != "save.dat.tmp" && name != "score.dat.tmp")
        << "a temporary file was left: " << name;
  }
}

INSTANTIATE_TEST_SUITE_P(EndToEndRobustnessTest, HostileFilesTest,
                         ::testing::ValuesIn(HostileCases()),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(EndToEndRobustnessTest, UnreadableFilesAreTakenAsMissing) {
  if (::geteuid() == 0) {
    // Permission bits do not stop root from reading, so there is nothing to test as root.
    GTEST_SKIP() << "root reads files whatever their permissions";
  }
  TmuxSession session;
  session.WriteFile("score.dat", "9\n");
  session.WriteFile("help.txt", "secret help\n");
  std::filesystem::permissions(session.folder() / "score.dat", std::filesystem::perms::none);
  std::filesystem::permissions(session.folder() / "help.txt", std::filesystem::perms::none);
  session.StartGame();
  ASSERT_TRUE(session.WaitForText(0, 1, "Warning: Cannot find the file \"score.dat\" !"));
  ASSERT_TRUE(WaitForMenu(session));
  session.SendText("p");
  ASSERT_TRUE(session.WaitForText(kBestLine, "High score:     0"));
  // A best score the game could not read is never written over.
  session.SendKeys({"Space", "u", "Escape"});
  ASSERT_TRUE(WaitForGameOver(session));
  EXPECT_TRUE(session.Capture().TextAt(kBestFailure, "Cannot write the file \"score.dat\" !"));
  ASSERT_TRUE(ContinueToMenu(session));
  ASSERT_NO_FATAL_FAILURE(QuitFromMenu(session));
  std::filesystem::permissions(session.folder() / "score.dat", std::filesystem::perms::owner_read);
  EXPECT_EQ(session.ReadFile("score.dat"), "9\n");
}

// ---- Nothing can be written ---------------------------------------------------------------------

// Under a file size limit of 0 every write fails as on a full disk, and the signal that the limit
// sends would end the program: it says so instead, and goes on.
TEST(EndToEndRobustnessTest, WhenNothingCanBeWrittenTheGameSaysSoAndGoesOn) {
  TmuxSession::Options options;
  options.game_setup = "ulimit -f 0";
  TmuxSession session(options);
  const std::string save = SmallSave(0, 100);
  session.WriteFile("save.dat", save);
  ASSERT_TRUE(StartAtTheMenu(session, 2));
  ASSERT_TRUE(StartRunningGame(session));

  session.SendText("uuu");
  ASSERT_TRUE(session.WaitForText(kScoreLine, "Your score:     3"));
  session.SendText("s");
  ASSERT_TRUE(session.WaitForText(kSaveQuestion, "Save the game and continue?"));
  session.SendText("y");
  ASSERT_TRUE(session.WaitForColoured("the save failing in red", [](const Screen& screen) {
    return screen.TextAt(kSaveFailure, "Cannot write the file \"save.dat\" !") &&
           screen.Foreground(kSaveFailure) == kRed;
  }));
  // After the message the game plays on.
  ASSERT_TRUE(session.WaitFor("the game going on", [](const Screen& screen) {
    return !screen.Contains("Cannot write") && ShownHead(screen).has_value();
  }));
  ASSERT_TRUE(WaitForTheSnakeToMoveOn(session));

  // A new best score that cannot be stored.
  session.SendKeys({"Escape"});
  ASSERT_TRUE(WaitForGameOver(session));
  {
    const Screen screen = session.CaptureWithColours();
    EXPECT_TRUE(screen.TextAt(kNewBestLine, "New High Score: 3 !")) << screen.ToString();
    EXPECT_TRUE(screen.TextAt(kBestFailure, "Cannot write the file \"score.dat\" !"))
        << screen.ToString();
    EXPECT_EQ(screen.Foreground(kBestFailure), kRed);
  }
  session.SendText(" ");
  ASSERT_TRUE(session.WaitForText(kContinueItem, "Continue(C)"));
  ASSERT_NO_FATAL_FAILURE(QuitFromMenu(session));

  EXPECT_EQ(session.ReadFile("score.dat"), "2\n");
  EXPECT_EQ(session.ReadFile("save.dat"), save);
  for (const auto& entry : std::filesystem::directory_iterator(session.folder())) {
    EXPECT_NE(entry.path().extension(), ".tmp") << "left behind: " << entry.path();
  }
}

}  // namespace
