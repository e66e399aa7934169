// Whole sessions of the real program in a real pseudo-terminal: start-up and the menu, the help,
// games played, saved and continued, the best score on disk, and the rest after 79 games. Every
// session ends with the terminal given back as it was.

#include "support/end_to_end.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/save_text.h"
#include "support/tmux_session.h"

namespace {

using std::chrono::milliseconds;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

void ExpectCredits(const Screen& screen) {
  EXPECT_TRUE(screen.TextAt(kCreditsTitle, "Vorlix"));
  EXPECT_TRUE(screen.TextAt(kCreditsAuthor, "Programmed by Belmor"));
  EXPECT_TRUE(screen.TextAt(kCreditsDate, "2021.9.13"));
  EXPECT_EQ(screen.Foreground(kCreditsTitle), kLightMagenta);
  EXPECT_EQ(screen.Foreground(137, 34), kLightMagenta);
  EXPECT_EQ(screen.Foreground(131, 36), kLightMagenta);
}

// The menu's items, with the saved game's line or without it.
void ExpectMenuItems(const Screen& screen, bool has_save) {
  EXPECT_TRUE(screen.TextAt(kPlayItem, "Play(P)"));
  if (has_save) {
    EXPECT_TRUE(screen.TextAt(kContinueItem, "Continue(C)"));
    EXPECT_TRUE(screen.TextAt(HelpItem(true), "Help(H)"));
    EXPECT_TRUE(screen.TextAt(QuitItem(true), "Quit(Esc)"));
    EXPECT_EQ(screen.Foreground(QuitItem(true)), kDarkGrey);
  } else {
    EXPECT_FALSE(screen.Contains("Continue(C)"));
    EXPECT_TRUE(screen.TextAt(HelpItem(false), "Help(H)"));
    EXPECT_TRUE(screen.TextAt(QuitItem(false), "Quit(Esc)"));
    EXPECT_EQ(screen.Foreground(QuitItem(false)), kDarkGrey);
  }
}

std::string FormatHead(Point head) {
  char text[32];
  std::snprintf(text, sizeof text, "(%3d, %3d)", head.x, head.y);
  return text;
}

int Sign(int value) {
  return (value > 0) - (value < 0);
}

// Waits until the head, as the info panel shows it, moves the way (dx, dy) points; the playfield
// wraps (98 columns from x 2, 38 rows from y 2).
::testing::AssertionResult WaitForHeading(const TmuxSession& session, int dx, int dy) {
  std::optional<Point> previous;
  return session.WaitFor(
      "the snake to head (" + std::to_string(dx) + ", " + std::to_string(dy) + ")",
      [&](const Screen& screen) {
        const std::optional<Point> head = ShownHead(screen);
        if (!head) return false;
        const std::optional<Point> before = previous;
        previous = head;
        if (!before || *before == *head) return false;
        int step_x = head->x - before->x;
        int step_y = head->y - before->y;
        if (step_x > 49) step_x -= 98;
        if (step_x < -49) step_x += 98;
        if (step_y > 19) step_y -= 38;
        if (step_y < -19) step_y += 38;
        return Sign(step_x) == dx && Sign(step_y) == dy;
      });
}

// "save.dat" read back: its numbers, from a text that is exactly what SaveText spells for them.
struct SaveFile {
  int direction = -1;
  std::vector<Point> body;
  Point food;
  int score = -1;
  int delay = -1;
};

std::optional<SaveFile> ParseSaveFile(const std::string& text) {
  std::istringstream in(text);
  std::string section;
  SaveFile save;
  int length = 0;
  if (!(std::getline(in, section) >> save.direction >> length) || length < 2) return std::nullopt;
  save.body.resize(static_cast<std::size_t>(length));
  for (Point& cell : save.body) in >> cell.x >> cell.y;
  std::getline(in >> std::ws, section) >> save.food.x >> save.food.y;
  std::getline(in >> std::ws, section) >> save.score >> save.delay;
  if (!in || text != SaveText(save.direction, save.body, save.food, save.score, save.delay)) {
    return std::nullopt;
  }
  return save;
}

// ---- Start-up and the way out -------------------------------------------------------------------

TEST(EndToEndTest, StartsAtTheMenuAndEscSaysFarewellAndGivesTheTerminalBack) {
  TmuxSession session;
  WriteUsualFiles(session, 7);
  session.StartGame();
  const std::string title_before = session.PaneTitle();
  ASSERT_TRUE(WaitForMenu(session));
  EXPECT_TRUE(session.AlternateScreen()) << "the game draws on the alternate screen";
  EXPECT_FALSE(session.CursorVisible()) << "the cursor is hidden while the game runs";

  const Screen menu = session.CaptureWithColours();
  ExpectFrame(menu);
  ExpectCredits(menu);
  ExpectMenuItems(menu, false);
  EXPECT_EQ(menu.Foreground(kWelcomeLine), kGreen) << "\"Welcome to Vorlix\" is green";
  EXPECT_EQ(menu.Foreground(47, 14), kGreen);
  EXPECT_FALSE(menu.Contains("Loading")) << "the loading line is gone";
  EXPECT_FALSE(menu.Contains("Warning")) << "no warning with every file there";
  EXPECT_FALSE(menu.Contains("*")) << "the menu snake shows only once a key moves it";

  // Any other key moves the menu snake one cell along its track.
  session.SendText("x");
  ASSERT_TRUE(session.WaitForText(22, 6, "*"));

  // Nothing has paused yet, so the farewell stands its full two seconds.
  session.SendKeys({"Escape"});
  ASSERT_TRUE(session.WaitForColoured("the farewell", [](const Screen& screen) {
    return screen.TextAt(38, 20, "Thanks for your playing!") &&
           screen.Foreground(38, 20) == kLightBlue;
  }));
  const auto farewell_seen = std::chrono::steady_clock::now();
  EXPECT_FALSE(session.Capture().Contains("Welcome")) << "the playfield is cleared for it";
  int status = -1;
  ASSERT_TRUE(session.WaitForGameEnd(status));
  const auto farewell_time = std::chrono::steady_clock::now() - farewell_seen;
  EXPECT_GE(farewell_time, milliseconds(1500));
  EXPECT_LE(farewell_time, milliseconds(5000));
  EXPECT_EQ(status, 0);
  session.ExpectTerminalRestored();
  EXPECT_EQ(session.ReadFile("score.dat"), "7\n") << "the best score is left alone";
  EXPECT_FALSE(session.Exists("save.dat"));
  EXPECT_EQ(session.PaneTitle(), title_before);
}

TEST(EndToEndTest, MissingFilesAreWarnedAboutInRedBeforeTheMenu) {
  TmuxSession session;
  session.StartGame();
  // Both warnings stand together for the second pause of half a second.
  ASSERT_TRUE(session.WaitForColoured("both warnings in red", [](const Screen& screen) {
    return screen.TextAt(0, 0, "Loading..") &&
           screen.TextAt(0, 1, "Warning: Cannot find the file \"score.dat\" !") &&
           screen.TextAt(0, 2, "Warning: Cannot find the file \"help.txt\" !") &&
           screen.Foreground(0, 1) == kRed && screen.Foreground(42, 1) == kRed &&
           screen.Foreground(0, 2) == kRed;
  }));
  ASSERT_TRUE(WaitForMenu(session));
  const Screen menu = session.CaptureWithColours();
  EXPECT_FALSE(menu.Contains("Warning")) << "the warnings are cleared for the menu";
  ExpectFrame(menu);
  ExpectMenuItems(menu, false);

  // Help without its file says so, and the menu comes back.
  session.SendText("h");
  ASSERT_TRUE(session.WaitForText(33, 14, "Cannot find the file \"help.txt\" !"));
  ASSERT_TRUE(session.WaitForText(kHelpPrompt, "Press any key to continue."));
  session.SendText(" ");
  ASSERT_TRUE(WaitForMenu(session));

  ASSERT_NO_FATAL_FAILURE(QuitFromMenu(session));
  EXPECT_FALSE(session.Exists("score.dat")) << "start-up and quitting write no best score";
  EXPECT_FALSE(session.Exists("help.txt"));
  EXPECT_FALSE(session.Exists("save.dat"));
}

// Esc ends the game at once, before the tick that would have eaten the food right ahead.
TEST(EndToEndTest, EscEndsTheGameWithoutAnotherTick) {
  TmuxSession session;
  session.WriteFile("save.dat", SaveText(kRight, {{50, 20}, {49, 20}}, {52, 20}, 0, 1000));
  ASSERT_TRUE(StartAtTheMenu(session, 0));
  session.SendText("c");
  ASSERT_TRUE(session.WaitForText(kHeadCell, "( 50,  20)"));
  session.SendText(" ");
  ASSERT_TRUE(session.WaitForText(kHeadCell, "( 51,  20)")) << "the first tick runs at once";
  std::this_thread::sleep_for(milliseconds(300));
  session.SendKeys({"Escape"});
  ASSERT_TRUE(WaitForGameOver(session));
  const Screen screen = session.Capture();
  EXPECT_TRUE(screen.TextAt(kFinalScoreLine, "Final score:        0")) << screen.ToString();
  EXPECT_TRUE(screen.TextAt(52, 20, "$")) << "the food was not eaten";
  ASSERT_TRUE(ContinueToMenu(session));
  ASSERT_NO_FATAL_FAILURE(QuitFromMenu(session));
  EXPECT_EQ(session.ReadFile("score.dat"), "0\n");
}

// Alt and a key, which a terminal sends as ESC and the key together, is no key of the game. Esc and
// a key 60 ms after it, while the game sleeps between ticks, are Esc and that key.
TEST(EndToEndTest, AnAltKeyIsNoEscButEscAndAKeyAfterItAre) {
  TmuxSession::Options options;
  options.alternate_screen = false;  // where the end must leave the pane blank
  TmuxSession session(options);
  session.WriteFile("save.dat", SaveText(kRight, {{50, 20}, {49, 20}}, {10, 10}, 0, 100));
  ASSERT_TRUE(StartAtTheMenu(session, 0));
  session.SendKeys({"M-x", "M-1", "x"});
  ASSERT_TRUE(session.WaitForText(22, 6, "*"));
  EXPECT_TRUE(session.Capture().TextAt(23, 6, " ")) << "only x moved the menu snake";
  session.SendKeys({"c", "Space", "M-m"});
  ASSERT_TRUE(session.WaitFor("the game to go on", [](const Screen& screen) {
    return ShownHead(screen).value_or(Point{}).x >= 56;
  }));
  session.SendKeys({"Escape"});
  std::this_thread::sleep_for(milliseconds(60));
  session.SendText("x");  // which may be the key that leaves the game-over screen
  ASSERT_TRUE(session.WaitFor("the game to end", [](const Screen& screen) {
    return screen.Contains("Press any key") || screen.Contains("Welcome");
  }));
  ASSERT_TRUE(ContinueToMenu(session));
  ASSERT_NO_FATAL_FAILURE(QuitFromMenu(session));
}

// ---- A whole session ----------------------------------------------------------------------------

struct PaneSize {
  int columns;
  int rows;
  const char* name;
};

// In a pane of the game's size, and in a larger one where the game stands in the middle with
// black around it: every check below reads the cells as the game addresses them.
class WholeSessionTest : public ::testing::TestWithParam<PaneSize> {};

TEST_P(WholeSessionTest, HelpThenAGameSavedEndedAndContinuedThenFarewell) {
  TmuxSession::Options options;
  options.columns = GetParam().columns;
  options.rows = GetParam().rows;
  options.game_area_only = true;
  TmuxSession session(options);
  ASSERT_TRUE(StartAtTheMenu(session, 0));
  const std::string help = RepositoryHelpText();
  EXPECT_TRUE(session.WaitForBlackAroundTheGame());

  // The help, typed into the playfield, then the way back.
  session.SendText("h");
  ASSERT_TRUE(session.WaitForText(kHelpPrompt, "Press any key to continue.", milliseconds(15000)));
  {
    const Screen screen = session.CaptureWithColours();
    const std::vector<std::string> lines = Lines(help);
    ASSERT_GE(lines.size(), 3u);
    for (std::size_t i = 0; i < lines.size() && 5 + i < 36; ++i) {
      EXPECT_EQ(screen.Text(kHelpStart.x, kHelpStart.y + static_cast<int>(i),
                            static_cast<int>(lines[i].size())),
                lines[i])
          << "help line " << i;
    }
    EXPECT_EQ(screen.Foreground(kHelpStart), kLightCyan) << "the help text is light cyan";
    EXPECT_FALSE(screen.Contains("Welcome")) << "the help replaces the menu";
    ExpectFrame(screen);
  }
  session.SendText("q");
  ASSERT_TRUE(WaitForMenu(session));

  // A new game: the panels, then a start with an arrow key and turns with arrows and letters.
  session.SendText("p");
  ASSERT_TRUE(session.WaitForText(kLevelLine, "Level: 0"));
  {
    const Screen screen = session.CaptureWithColours();
    EXPECT_TRUE(screen.TextAt(kScoreLine, "Your score:     0"));
    EXPECT_TRUE(screen.TextAt(kBestLine, "High score:     0"));
    EXPECT_TRUE(screen.TextAt(kSnakeTitle, "Snake:"));
    EXPECT_EQ(screen.Foreground(kSnakeTitle), kDarkGrey) << "the info panel is dark grey";
    EXPECT_TRUE(screen.TextAt(kDelayLine, "Delay:  100 ms"));
    EXPECT_TRUE(ShownHead(screen).has_value()) << screen.Row(kHeadCell.y);
    EXPECT_TRUE(screen.Contains("*"));
    EXPECT_TRUE(screen.Contains("$"));
    EXPECT_FALSE(screen.Contains("Welcome"));
    ExpectFrame(screen);
    EXPECT_TRUE(session.WaitForBlackAroundTheGame());
    // Waiting for the start key: the snake stays where it is.
    const std::optional<Point> head = ShownHead(screen);
    std::this_thread::sleep_for(milliseconds(300));
    EXPECT_EQ(ShownHead(session.Capture()), head) << "the snake moves before the start key";
  }
  const struct {
    std::string_view key;  // a tmux key name, or a letter typed as it is
    int dx;
    int dy;
  } kTurns[] = {{"Right", 1, 0}, {"Up", 0, -1}, {"k", -1, 0},    {"Down", 0, 1},
                {"m", 1, 0},     {"H", 0, -1},  {"Left", -1, 0}, {"P", 0, 1}};
  for (const auto& [key, dx, dy] : kTurns) {
    SCOPED_TRACE(std::string(key));
    if (key.size() == 1) {
      session.SendText(key);
    } else {
      session.SendKeys({key});
    }
    ASSERT_TRUE(WaitForHeading(session, dx, dy));
  }

  // Three points by U: the score goes up and shows in light green above the best.
  session.SendText("uuu");
  ASSERT_TRUE(session.WaitFor("a score of 3 or more", [](const Screen& screen) {
    return ShownNumber(screen, kScoreLine, "Your score:") >= 3;
  }));
  EXPECT_EQ(session.CaptureWithColours().Foreground(kScoreLine), kLightGreen);

  // Save and play on.
  session.SendText("s");
  ASSERT_TRUE(session.WaitForText(kSaveQuestion, "Save the game and continue?"));
  EXPECT_TRUE(session.Capture().TextAt(kSaveAnswers, "(Y) or (Esc)"));
  EXPECT_FALSE(session.Exists("save.dat"));
  session.SendText("y");
  ASSERT_TRUE(session.WaitFor("the game going on after the save", [](const Screen& screen) {
    return !screen.Contains("Save the game") && ShownHead(screen).has_value();
  }));
  const std::optional<std::string> saved_text = session.ReadFile("save.dat");
  ASSERT_TRUE(saved_text.has_value()) << "no save.dat after Y";
  EXPECT_TRUE(saved_text->starts_with("[snake info]\n")) << *saved_text;
  const std::optional<SaveFile> saved = ParseSaveFile(*saved_text);
  ASSERT_TRUE(saved.has_value()) << "not in the game's format:\n" << *saved_text;
  EXPECT_EQ(saved->direction, 2) << "saved heading down";
  EXPECT_GE(saved->body.size(), 5u);
  EXPECT_EQ(saved->score, static_cast<int>(saved->body.size()) - 2);
  EXPECT_EQ(saved->delay, 100);
  EXPECT_FALSE(session.Exists("save.dat.tmp")) << "the temporary file is renamed away";
  ASSERT_TRUE(WaitForHeading(session, 0, 1)) << "the game goes on after the save";

  // Esc: game over with a new best score, which goes to score.dat at once.
  session.SendKeys({"Escape"});
  ASSERT_TRUE(WaitForGameOver(session));
  int best = -1;
  {
    const Screen screen = session.CaptureWithColours();
    EXPECT_TRUE(screen.TextAt(kGameOverTitle, "GAME OVER !"));
    EXPECT_EQ(screen.Foreground(kGameOverTitle), kRed);
    ASSERT_TRUE(screen.TextAt(kNewBestLine, "New High Score: ")) << screen.ToString();
    best = ShownNumber(screen, kNewBestLine, "New High Score: ");
    EXPECT_GE(best, static_cast<int>(saved->body.size()) - 2);
    EXPECT_FALSE(screen.Contains("Level:")) << "the side panel is cleared";
  }
  EXPECT_EQ(session.ReadFile("score.dat"), std::to_string(best) + "\n");

  // Back at the menu, which now offers the saved game.
  session.SendText("x");
  ASSERT_TRUE(session.WaitForText(kContinueItem, "Continue(C)"));
  ExpectMenuItems(session.CaptureWithColours(), true);

  // The continued game starts where the save was made.
  session.SendText("c");
  ASSERT_TRUE(session.WaitForText(kLevelLine, "Level: 0"));
  {
    const Screen screen = session.Capture();
    EXPECT_TRUE(screen.TextAt(kHeadCell, FormatHead(saved->body.front())))
        << "head shown as " << screen.Text(kHeadCell, 10);
    EXPECT_TRUE(screen.TextAt(kScoreLine, "Your score: ")) << screen.Row(kScoreLine.y);
    EXPECT_EQ(ShownNumber(screen, kScoreLine, "Your score: "), saved->score);
    EXPECT_EQ(ShownNumber(screen, kBestLine, "High score: "), best)
        << "the best score of this session";
    EXPECT_EQ(ShownNumber(screen, kLengthLabel, "length:"), static_cast<int>(saved->body.size()))
        << "length " << screen.Row(kLengthLabel.y);
    for (const Point& cell : saved->body) {
      EXPECT_EQ(screen.At(cell.x, cell.y).glyph, "*") << "body cell " << FormatHead(cell);
    }
  }
  // Started and ended at once: at most one step, which scores only if the food lies just ahead.
  const Point head = saved->body.front();
  const Point ahead{head.x, head.y == 39 ? 2 : head.y + 1};  // heading down, wrapping at the bottom
  const int final_score = static_cast<int>(saved->body.size()) - 2 + (saved->food == ahead ? 1 : 0);
  session.SendKeys({"Space", "Escape"});
  ASSERT_TRUE(WaitForGameOver(session));
  EXPECT_TRUE(session.WaitForBlackAroundTheGame());
  {
    const Screen screen = session.Capture();
    EXPECT_TRUE(screen.TextAt(kGameOverTitle, "GAME OVER !"));
    if (final_score > best) {
      EXPECT_TRUE(screen.TextAt(kNewBestLine, "New High Score: " + std::to_string(final_score)));
      best = final_score;
    } else {
      EXPECT_TRUE(screen.TextAt(kFinalScoreLine, "Final score:")) << screen.ToString();
      EXPECT_EQ(ShownNumber(screen, kFinalScoreLine, "Final score:"), final_score);
      EXPECT_TRUE(screen.TextAt(kOldBestLine, "High score:"));
      EXPECT_EQ(ShownNumber(screen, kOldBestLine, "High score:"), best);
    }
  }
  session.SendText("x");
  ASSERT_TRUE(session.WaitForText(kContinueItem, "Continue(C)"));

  ASSERT_NO_FATAL_FAILURE(QuitFromMenu(session));
  EXPECT_EQ(session.ReadFile("save.dat"), saved_text) << "continuing leaves the save as it was";
  EXPECT_EQ(session.ReadFile("score.dat"), std::to_string(best) + "\n");
}

INSTANTIATE_TEST_SUITE_P(EndToEndTest, WholeSessionTest,
                         ::testing::Values(PaneSize{kGameColumns, kGameRows, "InAPaneOfItsSize"},
                                           PaneSize{200, 50, "CentredInA200By50Pane"}),
                         [](const auto& test) { return std::string(test.param.name); });

// ---- The installed command ----------------------------------------------------------------------

// The command as `make install` installs it under `prefix`, for a player whose home is `home`
// (both as the shell reads them, in the session's folder).
TmuxSession::Options InstalledCommand(const std::string& prefix, const std::string& home) {
  TmuxSession::Options options;
  options.game_setup =
      "HOME=" + home + "; export HOME; unset XDG_DATA_HOME; exec " + prefix + "/games/vorlix";
  return options;
}

// Installed under the first session's folder and started there, the command finds the installed
// help and keeps the best score in the player's data folder; started again from another folder,
// it finds that best score, and leaves the player's own help text as it is.
TEST(EndToEndTest, TheInstalledCommandPlaysInThePlayersDataFolderFromAnyFolder) {
  TmuxSession first(InstalledCommand("\"$PWD/installed\"", "\"$PWD/home\""));
  const std::string prefix = (first.folder() / "installed").string();
  std::string output;
  const ProcessEnd installed =
      RunProgram({VORLIX_CMAKE, "--install", VORLIX_BUILD_DIR, "--prefix", prefix}, &output);
  ASSERT_EQ(installed.status, 0) << output;
  first.WriteFile("installed/share/games/vorlix/help.txt", "INSTALLED HELP\n\n  Eat the $.\n");
  const std::string data = "home/.local/share/vorlix/";

  first.StartGame();
  ASSERT_TRUE(WaitForMenu(first));
  first.SendText("h");
  ASSERT_TRUE(first.WaitForText(kHelpPrompt, "Press any key to continue."));
  EXPECT_TRUE(first.Capture().TextAt(kHelpStart, "INSTALLED HELP"));
  EXPECT_TRUE(first.Capture().TextAt(5, 7, "  Eat the $."));
  first.SendText("q");
  ASSERT_TRUE(WaitForMenu(first));
  first.SendKeys({"p", "Space"});
  first.SendText("uu");
  ASSERT_TRUE(first.WaitForText(kScoreLine, "Your score:     2"));
  ASSERT_NO_FATAL_FAILURE(EndGameAndQuit(first));
  EXPECT_EQ(first.ReadFile(data + "score.dat"), "2\n");
  EXPECT_FALSE(first.Exists("score.dat")) << "nothing is kept in the folder it started from";

  first.WriteFile(data + "help.txt", "my own help\n");
  const std::string home = (first.folder() / "home").string();
  TmuxSession second(InstalledCommand("'" + prefix + "'", "'" + home + "'"));
  second.StartGame();
  ASSERT_TRUE(WaitForMenu(second));
  second.SendKeys({"p", "Space"});
  ASSERT_TRUE(second.WaitForText(kBestLine, "High score:     2"));
  ASSERT_NO_FATAL_FAILURE(EndGameAndQuit(second));
  EXPECT_EQ(first.ReadFile(data + "help.txt"), "my own help\n");
  EXPECT_FALSE(second.Exists("score.dat"));
}

// ---- The rest after many games ------------------------------------------------------------------

// In a pane without an alternate screen, which the end must leave blank.
TEST(EndToEndTest, After79GamesTheMenuSnakeBitesItselfAndTheGameSaysRest) {
  TmuxSession::Options options;
  options.alternate_screen = false;
  TmuxSession session(options);
  ASSERT_TRUE(StartAtTheMenu(session, 0));

  for (int game = 1; game <= 79; ++game) {
    SCOPED_TRACE("game " + std::to_string(game));
    // New game, start key, Esc: together, so the game has at most a tick or two.
    session.SendKeys({"p", "Space", "Escape"});
    // The game-over screen throws away keys typed before its prompt, so wait for it.
    ASSERT_TRUE(WaitForGameOver(session));
    ASSERT_TRUE(ContinueToMenu(session));
  }
  EXPECT_EQ(session.ReadFile("score.dat"), "0\n") << "no game scored";

  // Every other key moves the menu snake on, until it bites itself.
  Screen before = session.Capture();
  bool rest = false;
  for (int key = 0; key < 400 && !rest; ++key) {
    session.SendText("x");
    ASSERT_TRUE(session.WaitFor("the menu snake to move",
                                [&](const Screen& screen) { return !screen.SameAs(before); }));
    before = session.Capture();
    rest = before.Contains("You've played so many times!");
  }
  ASSERT_TRUE(rest) << "no rest message after 400 keys";
  ASSERT_TRUE(session.WaitForText(37, 19, "Press any key to continue."));
  {
    const Screen screen = session.Capture();
    EXPECT_TRUE(screen.TextAt(36, 13, "You've played so many times!"));
    EXPECT_TRUE(screen.TextAt(41, 15, "Let's have a rest!"));
    EXPECT_FALSE(screen.Contains("Welcome")) << "the playfield is cleared for the message";
    ExpectFrame(screen);
  }
  // A key ends the rest; the farewell follows, though only for a flash this long after the last
  // pause of the game.
  session.SendText("x");
  ASSERT_NO_FATAL_FAILURE(ExpectGameEnd(session, 0));
}

}  // namespace
