// The real program under hard conditions: every way it can end (and the terminal given back each
// time), Ctrl+Z and fg, a terminal that goes away, a window too small or resized during a game,
// game files full of garbage or replaced by folders, and a folder where nothing can be written.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/user.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/end_to_end.h"
#include "support/pseudo_terminal.h"
#include "support/save_text.h"
#include "support/tmux_session.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// A small saved game: a snake of three heading right with its head at (50, 20).
std::string SmallSave(int score, int delay) {
  return SaveText(kRight, {{50, 20}, {49, 20}, {48, 20}}, {10, 10}, score, delay);
}

// Every row of the screen as one text, rows that are full to the edge run on into the next, so
// that a message wrapped by a narrow window reads whole.
std::string Joined(const Screen& screen) {
  std::string text;
  for (int y = 0; y < screen.rows(); ++y) {
    const std::string row = screen.Row(y);
    text += row;
    if (static_cast<int>(row.size()) < screen.columns()) text += '\n';
  }
  return text;
}

// Waits until the info panel shows the head somewhere else than `from`.
::testing::AssertionResult WaitForHeadToLeave(const TmuxSession& session, Point from,
                                              milliseconds timeout = TmuxSession::kPatience) {
  return session.WaitFor(
      "the snake to move on",
      [&](const Screen& screen) {
        const std::optional<Point> head = ShownHead(screen);
        return head && *head != from;
      },
      timeout);
}

// Waits until the info panel shows the head somewhere else than it shows it now, after `keys`.
::testing::AssertionResult WaitForTheSnakeToMoveOn(const TmuxSession& session,
                                                   std::string_view keys = "") {
  const std::optional<Point> head = ShownHead(session.Capture());
  if (!head) return ::testing::AssertionFailure() << "no head position in the info panel";
  session.SendText(keys);
  return WaitForHeadToLeave(session, *head);
}

// Starts a new game from the menu and waits until the snake runs.
::testing::AssertionResult StartRunningGame(const TmuxSession& session) {
  session.SendText("p");
  if (auto shown = session.WaitForText(kLevelLine, "Level: 0"); !shown) return shown;
  return WaitForTheSnakeToMoveOn(session, " ");
}

// Waits until the message that asks for a larger window shows every one of `parts`.
::testing::AssertionResult WaitForSizeMessage(const TmuxSession& session,
                                              std::initializer_list<std::string_view> parts) {
  return session.WaitFor("the size message", [&](const Screen& screen) {
    const std::string text = Joined(screen);
    return std::all_of(parts.begin(), parts.end(),
                       [&](std::string_view part) { return text.find(part) != std::string::npos; });
  });
}

// Nothing on the screen changes for `time`.
void ExpectStandingStill(const TmuxSession& session, milliseconds time = milliseconds(300)) {
  const Screen before = session.Capture();
  std::this_thread::sleep_for(time);
  const Screen after = session.Capture();
  EXPECT_TRUE(after.SameAs(before)) << "something moved: " << after.FirstDifference(before);
}

// Sends `signal_number` to the game.
void SendToGame(const TmuxSession& session, int signal_number) {
  pid_t pid = 0;
  ASSERT_TRUE(session.WaitForGamePid(pid));
  ASSERT_EQ(::kill(pid, signal_number), 0);
}

// ---- A window too small -------------------------------------------------------------------------

// In a pane without an alternate screen, where the message must not stay behind.
TEST(EndToEndRobustnessTest, TooSmallAWindowShowsTheSizesAndEscQuitsCleanly) {
  TmuxSession session(TmuxSession::Options{100, 30, {}, {}, false, false});
  WriteUsualFiles(session, 0);
  session.StartGame();
  ASSERT_TRUE(WaitForSizeMessage(
      session, {"needs a terminal of at least 155 x 42 characters; this one is 100 x 30.",
                "press Esc to quit"}));
  EXPECT_FALSE(session.Capture().Contains("#")) << "no part of the game is drawn";
  // It waits: nothing changes while the window stays small.
  ExpectStandingStill(session);

  session.SendKeys({"Escape"});
  ASSERT_NO_FATAL_FAILURE(ExpectGameEnd(session, 0));
  EXPECT_EQ(session.ReadFile("score.dat"), "0\n");
}

TEST(EndToEndRobustnessTest, AWindowThatGrowsLargeEnoughGetsTheMenu) {
  TmuxSession session(120, 40);
  WriteUsualFiles(session, 0);
  session.StartGame();
  ASSERT_TRUE(WaitForSizeMessage(session, {"this one is 120 x 40."}));
  // Still too low: the message follows the new size.
  session.Resize(160, 41);
  ASSERT_TRUE(WaitForSizeMessage(session, {"this one is 160 x 41."})) << "with the new size";
  session.Resize(155, 42);
  ASSERT_TRUE(WaitForMenu(session));
  ExpectFrame(session.Capture());
  ASSERT_NO_FATAL_FAILURE(QuitFromMenu(session));
}

// ---- Resizing during a game ---------------------------------------------------------------------

TEST(EndToEndRobustnessTest, ShrinkingTheWindowHoldsTheGameUntilItGrowsBack) {
  TmuxSession session;
  ASSERT_TRUE(StartAtTheMenu(session, 0));
  ASSERT_TRUE(StartRunningGame(session));

  session.Resize(120, 30);
  ASSERT_TRUE(
      WaitForSizeMessage(session, {"this one is 120 x 30.", "press Ctrl+C to quit at once"}));
  // At ten steps a second, a game that went on would show within 600 ms. No key counts while it
  // is held, Esc included: the game in play is not lost.
  const Screen held = session.Capture();
  session.SendKeys({"Escape"});
  std::this_thread::sleep_for(milliseconds(300));
  EXPECT_TRUE(session.Capture().SameAs(held)) << "something moved while the window was small";
  std::this_thread::sleep_for(milliseconds(300));
  const Screen still_held = session.Capture();
  EXPECT_TRUE(still_held.SameAs(held)) << "something moved while the window was small:\n"
                                       << still_held.ToString();

  session.Resize(155, 42);
  ASSERT_TRUE(session.WaitForText(kLevelLine, "Level: 0"));
  const Screen back = session.Capture();
  ExpectFrame(back);
  EXPECT_FALSE(back.Contains("needs a terminal")) << "the message is gone";
  const std::optional<Point> head = ShownHead(back);
  ASSERT_TRUE(head.has_value());
  ASSERT_TRUE(WaitForHeadToLeave(session, *head)) << "the game goes on";
  ASSERT_NO_FATAL_FAILURE(EndGameAndQuit(session));
}

TEST(EndToEndRobustnessTest, AWindowGrownBackShowsExactlyWhatItShowedBefore) {
  TmuxSession::Options options;
  options.game_area_only = true;
  TmuxSession session(options);
  // The slowest game there is, a second a step.
  session.WriteFile("save.dat", SmallSave(1, 1000));
  ASSERT_TRUE(StartAtTheMenu(session, 5));
  session.SendText("c");
  ASSERT_TRUE(session.WaitForText(kHeadCell, "( 50,  20)"));

  // Waiting for the start key.
  {
    const Screen before = session.CaptureWithColours();
    session.Resize(100, 30);
    ASSERT_TRUE(WaitForSizeMessage(session, {"this one is 100 x 30."}));
    session.Resize(155, 42);
    ASSERT_TRUE(session.WaitForScreen(before));
  }

  // Playing, with the save question waiting for its answer, so that the screen stands still.
  session.SendText(" ");
  ASSERT_TRUE(session.WaitForText(kHeadCell, "( 51,  20)"));
  session.SendText("s");
  ASSERT_TRUE(session.WaitForText(kSaveQuestion, "Save the game and continue?"));
  const Screen before = session.CaptureWithColours();
  session.Resize(120, 30);
  ASSERT_TRUE(WaitForSizeMessage(session, {"this one is 120 x 30."}));
  ExpectStandingStill(session);
  session.Resize(155, 42);
  ASSERT_TRUE(session.WaitForScreen(before, milliseconds(2000)));
  // Larger, the same screen stands in the middle with black around it; then back in the corner.
  session.Resize(200, 50);
  ASSERT_TRUE(session.WaitForScreen(before, milliseconds(1000)));
  EXPECT_TRUE(session.WaitForBlackAroundTheGame(milliseconds(500)));
  session.Resize(155, 42);
  ASSERT_TRUE(session.WaitForScreen(before, milliseconds(1000)));
  session.SendKeys({"Escape"});
  ASSERT_TRUE(session.WaitForColoured("the game going on", [](const Screen& screen) {
    return screen.TextAt(kHeadCell, "( 5") && !screen.TextAt(kHeadCell, "( 51,  20)");
  }));
  ASSERT_NO_FATAL_FAILURE(SendToGame(session, SIGTERM));
  ASSERT_NO_FATAL_FAILURE(ExpectGameEnd(session, 128 + SIGTERM));
}

// ---- Signals ------------------------------------------------------------------------------------

enum class Place { Menu, Game, Help };

struct SignalCase {
  int signal_number;
  Place place;
  const char* name;
  bool alternate_screen = true;
  bool stack_overflow = false;  // the game is left without a stack, and faults
};

std::ostream& operator<<(std::ostream& out, const SignalCase& ending) {
  return out << ending.name;
}

class SignalEndingTest : public ::testing::TestWithParam<SignalCase> {};

// Ctrl+C and its kin end the game from wherever it is, with the terminal given back first; the
// program still ends by the signal, so the shell sees 128 + its number.
TEST_P(SignalEndingTest, EndsByTheSignalWithTheTerminalGivenBack) {
  const SignalCase& ending = GetParam();
  TmuxSession::Options options;
  options.alternate_screen = ending.alternate_screen;
  TmuxSession session(options);
  ASSERT_TRUE(StartAtTheMenu(session, 4));
  if (ending.place == Place::Game) {
    ASSERT_TRUE(StartRunningGame(session));
  }
  if (ending.place == Place::Help) {
    session.SendText("h");
    ASSERT_TRUE(session.WaitForText(kHelpStart, "HOW TO PLAY"));  // typing on, letter by letter
  }
  ASSERT_NO_FATAL_FAILURE(SendToGame(session, ending.signal_number));
  ASSERT_NO_FATAL_FAILURE(ExpectGameEnd(session, 128 + ending.signal_number));
  EXPECT_EQ(session.ReadFile("score.dat"), "4\n");
  EXPECT_FALSE(session.Exists("save.dat"));
}

INSTANTIATE_TEST_SUITE_P(
    EndToEndRobustnessTest, SignalEndingTest,
    ::testing::Values(SignalCase{SIGINT, Place::Menu, "SigintOnTheMenu"},
                      SignalCase{SIGTERM, Place::Game, "SigtermDuringAGame"},
                      SignalCase{SIGHUP, Place::Menu, "SighupOnTheMenu"},
                      SignalCase{SIGQUIT, Place::Game, "SigquitDuringAGame"},
                      SignalCase{SIGINT, Place::Help, "SigintWhileTheHelpTypes"},
                      // Every other signal that ends a program by default.
                      SignalCase{SIGUSR1, Place::Menu, "Sigusr1OnTheMenu"},
                      SignalCase{SIGUSR2, Place::Game, "Sigusr2DuringAGame"},
                      SignalCase{SIGALRM, Place::Help, "SigalrmInTheHelp"},
                      SignalCase{SIGVTALRM, Place::Menu, "SigvtalrmOnTheMenu"},
                      SignalCase{SIGPROF, Place::Game, "SigprofDuringAGame"},
                      SignalCase{SIGXCPU, Place::Game, "SigxcpuDuringAGame"},
                      SignalCase{SIGPWR, Place::Menu, "SigpwrOnTheMenu"},
                      SignalCase{SIGSYS, Place::Game, "SigsysDuringAGame"},
                      SignalCase{SIGTRAP, Place::Menu, "SigtrapOnTheMenu"},
                      SignalCase{SIGRTMIN + 3, Place::Game, "RealTimeSignalDuringAGame"},
                      // A terminal without an alternate screen is left blank.
                      SignalCase{SIGTERM, Place::Game, "SigtermWithoutAnAlternateScreen", false}),
    [](const auto& test) { return std::string(test.param.name); });

// A failed write is the game's to report, so the two signals that come with one change nothing.
TEST(EndToEndRobustnessTest, SigpipeAndSigxfszAreIgnored) {
  TmuxSession session;
  ASSERT_TRUE(StartAtTheMenu(session, 0));
  ASSERT_TRUE(StartRunningGame(session));
  ASSERT_NO_FATAL_FAILURE(SendToGame(session, SIGPIPE));
  ASSERT_NO_FATAL_FAILURE(SendToGame(session, SIGXFSZ));
  ASSERT_TRUE(WaitForTheSnakeToMoveOn(session)) << "the game goes on";
  ASSERT_NO_FATAL_FAILURE(EndGameAndQuit(session));
}

class CrashSignalTest : public ::testing::TestWithParam<SignalCase> {};

// Leaves the game without a stack, as a runaway recursion would: its stack pointer is moved to an
// address where nothing is mapped, so its next call faults, and the kernel finds no room there for
// the signal's frame either. Empty when done, else why it could not be.
std::string TakeAwayTheStack(pid_t pid) {
#if defined(__x86_64__)
  if (::ptrace(PTRACE_SEIZE, pid, nullptr, nullptr) != 0) {
    return std::string("ptrace is not allowed here: ") + std::strerror(errno);
  }
  int status = 0;
  user_regs_struct registers{};
  bool moved = ::ptrace(PTRACE_INTERRUPT, pid, nullptr, nullptr) == 0 &&
               ::waitpid(pid, &status, __WALL) == pid &&
               ::ptrace(PTRACE_GETREGS, pid, nullptr, &registers) == 0;
  registers.rsp = 4096;
  moved = moved && ::ptrace(PTRACE_SETREGS, pid, nullptr, &registers) == 0;
  ::ptrace(PTRACE_DETACH, pid, nullptr, nullptr);
  EXPECT_TRUE(moved) << std::strerror(errno);
  return {};
#else
  return "the stack pointer is moved on x86-64 only";
#endif
}

// A crash still gives the terminal back before the program dies of it. The sanitizers' own
// handlers would turn these signals into a report and exit status 1; they are kept out of the
// way so that the game's handler is what gets tested.
TEST_P(CrashSignalTest, DiesOfTheSignalWithTheTerminalGivenBack) {
  const SignalCase& crash = GetParam();
  TmuxSession::Options options;
  options.sanitizer_options =
      "handle_segv=0:handle_sigbus=0:handle_sigfpe=0:handle_sigill=0:handle_abort=0";
  options.alternate_screen = crash.alternate_screen;
  TmuxSession session(options);
  ASSERT_TRUE(StartAtTheMenu(session, 4));
  if (crash.place == Place::Game) {
    ASSERT_TRUE(StartRunningGame(session));
  }
  if (crash.stack_overflow) {
    pid_t pid = 0;
    ASSERT_TRUE(session.WaitForGamePid(pid));
    if (const std::string not_done = TakeAwayTheStack(pid); !not_done.empty()) {
      GTEST_SKIP() << not_done;
    }
  } else {
    ASSERT_NO_FATAL_FAILURE(SendToGame(session, crash.signal_number));
  }
  {
    SCOPED_TRACE("the program should die of the signal");
    ASSERT_NO_FATAL_FAILURE(ExpectGameEnd(session, 128 + crash.signal_number));
  }
  EXPECT_EQ(session.ReadFile("score.dat"), "4\n");
}

// The game as the pane's own process, with nothing around it that could write to the terminal
// after it: what the game sent on its way out has put the main screen back. (A dead pane always
// hides its cursor, so the cursor is checked in the test above.)
TEST(EndToEndRobustnessTest, ACrashOfTheGameAloneInThePaneStillRestoresTheScreen) {
  TmuxSession::Options options;
  options.sanitizer_options = "handle_segv=0";
  TmuxSession session(options);
  WriteUsualFiles(session, 4);
  session.Start(session.GameCommand());
  ASSERT_TRUE(WaitForMenu(session));
  pid_t pid = 0;
  ASSERT_TRUE(session.WaitForGamePid(pid));
  EXPECT_EQ(pid, session.PanePid()) << "the game replaced the shell that started it";
  EXPECT_FALSE(session.PaneDead());
  EXPECT_FALSE(session.ExitStatus().has_value());
  ASSERT_EQ(::kill(pid, SIGSEGV), 0);
  std::optional<ProcessEnd> end;
  for (int wait = 0; wait < 500 && !end; ++wait) {
    end = session.ExitStatus();
    if (!end) std::this_thread::sleep_for(milliseconds(20));
  }
  ASSERT_TRUE(end.has_value()) << "the pane never died";
  if (end->status || end->signal) {  // when tmux kept it
    EXPECT_EQ(end->signal, SIGSEGV);
    EXPECT_EQ(end->status, std::nullopt);
  }
  EXPECT_FALSE(session.AlternateScreen());
  EXPECT_FALSE(session.Capture().Contains("Welcome")) << "the game's screen is gone";
  session.ExpectNoSanitizerReport();
}

INSTANTIATE_TEST_SUITE_P(
    EndToEndRobustnessTest, CrashSignalTest,
    ::testing::Values(SignalCase{SIGSEGV, Place::Game, "SigsegvDuringAGame"},
                      SignalCase{SIGABRT, Place::Menu, "SigabrtOnTheMenu"},
                      SignalCase{SIGSEGV, Place::Game, "SigsegvWithoutAnAlternateScreen", false},
                      SignalCase{SIGSEGV, Place::Game, "StackOverflow", true, true}),
    [](const auto& test) { return std::string(test.param.name); });

// ---- Ctrl+Z, Ctrl+C in a shell with job control -------------------------------------------------

// The usual files, then the game typed into an interactive shell, up to its menu.
::testing::AssertionResult StartGameFromShell(TmuxSession& session) {
  WriteUsualFiles(session, 0);
  session.StartShell();
  if (auto prompt = session.WaitForAnywhere(TmuxSession::kShellPrompt); !prompt) return prompt;
  session.SendText(session.GameCommand());
  session.SendKeys({"Enter"});
  return WaitForMenu(session);
}

// Types `command` into the shell and waits for its output line that starts with `expected`.
::testing::AssertionResult RunInShell(const TmuxSession& session, const std::string& command,
                                      const std::string& expected) {
  session.SendText(command);
  session.SendKeys({"Enter"});
  return session.WaitFor("\"" + expected + "\" from the shell", [&](const Screen& screen) {
    for (int y = 0; y < screen.rows(); ++y) {
      if (screen.Row(y).starts_with(expected)) return true;
    }
    return false;
  });
}

// The terminal as the shell has it between commands: `stty -a` shows echo and line editing on,
// and the cursor and the main screen are back.
void ExpectCookedTerminal(const TmuxSession& session) {
  static int checks = 0;
  const std::string done = "stty-done-" + std::to_string(++checks);
  ASSERT_TRUE(RunInShell(session, "clear; stty -a; echo " + done, done));
  std::set<std::string> words;
  const Screen screen = session.Capture();
  for (int y = 0; y < screen.rows(); ++y) {
    std::string row = screen.Row(y);
    std::replace(row.begin(), row.end(), ';', ' ');
    std::istringstream in(row);
    for (std::string word; in >> word;) words.insert(word);
  }
  for (const char* mode : {"echo", "icanon"}) {
    EXPECT_TRUE(words.contains(mode) && !words.contains(std::string("-") + mode))
        << mode << " is off; the screen shows:\n"
        << screen.ToString();
  }
  EXPECT_TRUE(session.CursorVisible());
  EXPECT_FALSE(session.AlternateScreen());
}

// After the game has ended: the shell's prompt is back, the shell saw the exit status `status`,
// the terminal is cooked again and no sanitizer complained.
void ExpectBackAtTheShell(const TmuxSession& session, int status) {
  ASSERT_TRUE(session.WaitFor("the shell's prompt", [](const Screen& screen) {
    return !screen.Contains("Welcome") && screen.Contains(TmuxSession::kShellPrompt);
  }));
  const std::string shown = "exit=" + std::to_string(status);
  ASSERT_TRUE(RunInShell(session, "echo \"exit=$?\"", shown));
  ASSERT_NO_FATAL_FAILURE(ExpectCookedTerminal(session));
  session.ExpectNoSanitizerReport();
}

TEST(EndToEndRobustnessTest, CtrlZGivesTheTerminalBackAndFgBringsTheGameBackExactly) {
  TmuxSession session;
  ASSERT_TRUE(StartGameFromShell(session));
  session.SendText("xxx");  // the menu snake moves three cells, so that there is more to redraw
  ASSERT_TRUE(session.WaitForText(24, 6, "*"));
  const Screen before = session.CaptureWithColours();

  session.SendKeys({"C-z"});
  ASSERT_TRUE(session.WaitForAnywhere("Stopped"));
  ASSERT_NO_FATAL_FAILURE(ExpectCookedTerminal(session));

  session.SendText("fg");
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitForScreen(before)) << "the whole screen comes back as it was";
  EXPECT_FALSE(session.CursorVisible());
  EXPECT_TRUE(session.AlternateScreen());

  // Raw mode again: single keys act at once, without Enter.
  session.SendText("x");
  ASSERT_TRUE(session.WaitForText(25, 6, "*"));
  session.SendText("h");
  ASSERT_TRUE(session.WaitForText(kHelpPrompt, "Press any key to continue.", milliseconds(15000)));
  ASSERT_TRUE(ContinueToMenu(session));

  // Suspended in the middle of a game: it comes back and plays on.
  ASSERT_TRUE(StartRunningGame(session));
  session.SendKeys({"C-z"});
  ASSERT_TRUE(session.WaitForAnywhere("Stopped"));
  ASSERT_NO_FATAL_FAILURE(ExpectCookedTerminal(session));
  session.SendText("fg");
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitForText(kLevelLine, "Level: 0"));
  ExpectFrame(session.Capture());
  ASSERT_TRUE(WaitForTheSnakeToMoveOn(session));

  session.SendKeys({"Escape"});
  ASSERT_TRUE(WaitForGameOver(session));
  ASSERT_TRUE(ContinueToMenu(session));
  session.SendKeys({"Escape"});
  ASSERT_NO_FATAL_FAILURE(ExpectBackAtTheShell(session, 0));
}

// bash's `kill %1` sends a stopped job SIGTERM and then SIGCONT: the game ends there and then. A
// game continued in the background by `bg` stays stopped, leaving the terminal to the shell.
TEST(EndToEndRobustnessTest, CtrlZThenBgLeavesTheTerminalAloneAndKillEndsTheGameAtOnce) {
  TmuxSession session;
  ASSERT_TRUE(StartGameFromShell(session));
  ASSERT_TRUE(StartRunningGame(session));
  session.SendKeys({"C-z"});
  ASSERT_TRUE(session.WaitForAnywhere("Stopped"));
  ASSERT_TRUE(
      RunInShell(session, "bg; sleep 0.5; echo state=$(ps -o stat= -p $(jobs -p))", "state=T"));
  ASSERT_NO_FATAL_FAILURE(ExpectCookedTerminal(session));
  session.SendText("fg");
  session.SendKeys({"Enter"});
  ASSERT_TRUE(WaitForTheSnakeToMoveOn(session));

  session.SendKeys({"C-z"});
  ASSERT_TRUE(session.WaitForAnywhere("Stopped"));
  session.SendText("kill %1; sleep 0.3");
  session.SendKeys({"Enter"});
  ASSERT_TRUE(session.WaitForAnywhere("Terminated"));
  ASSERT_NO_FATAL_FAILURE(ExpectCookedTerminal(session));
  session.ExpectNoSanitizerReport();
}

TEST(EndToEndRobustnessTest, CtrlCTypedOnTheMenuEndsTheGameWithTheTerminalGivenBack) {
  TmuxSession session;
  ASSERT_TRUE(StartGameFromShell(session));
  session.SendKeys({"C-c"});
  ASSERT_NO_FATAL_FAILURE(ExpectBackAtTheShell(session, 130));
}

// ---- The terminal goes away ---------------------------------------------------------------------

struct HangUpCase {
  // Under nohup the game ignores SIGHUP and a parent that ignores it too leads the terminal's
  // session, as a shell would: no signal tells the game, which has to notice by itself. Otherwise
  // the game leads the session, as in a terminal window that runs it directly, and gets SIGHUP.
  Under under;
  bool in_game;
  const char* name;
};

std::ostream& operator<<(std::ostream& out, const HangUpCase& hang_up) {
  return out << hang_up.name;
}

class HangUpTest : public ::testing::TestWithParam<HangUpCase> {};

TEST_P(HangUpTest, TheGameEndsAtOnceWithoutSpinning) {
  const HangUpCase& hang_up = GetParam();
  TmuxSession files;  // only for its folders: this terminal is a bare pseudo-terminal
  WriteUsualFiles(files, 0);
  const auto [leader, game, master] = StartInPseudoTerminal(files, hang_up.under);
  ASSERT_GE(leader, 0) << std::strerror(errno);

  std::string seen;
  bool ready = game > 0 && ReadUntil(master, "Welcome to Vorlix", seen);
  if (ready && hang_up.in_game) {
    // A new game, started: from now on it draws ten times a second.
    ready = ::write(master, "p", 1) == 1 && ReadUntil(master, "Level: 0", seen) &&
            ::write(master, " ", 1) == 1;
    std::this_thread::sleep_for(milliseconds(300));
  }
  const std::optional<milliseconds> cpu_before = CpuTime(game);
  ::close(master);

  rusage usage{};  // of the leader and, under nohup, the game it waited for
  const std::optional<int> ended = AwaitEnd(leader, milliseconds(1000), &usage);
  if (!ended) {
    std::this_thread::sleep_for(milliseconds(500));
    const std::optional<milliseconds> cpu_after = CpuTime(game);
    ::kill(game, SIGKILL);
    ::kill(leader, SIGKILL);
    ::waitpid(leader, nullptr, 0);
    FAIL() << "still running 1 s after its terminal went away; CPU time "
           << (cpu_before ? cpu_before->count() : -1) << " ms then, "
           << (cpu_after ? cpu_after->count() : -1) << " ms half a second later";
  }
  ASSERT_TRUE(ready) << "the game never got going; it wrote:\n" << seen;
  ASSERT_TRUE(cpu_before.has_value());
  const int wait_status = *ended;
  EXPECT_LT(CpuTime(usage) - *cpu_before, milliseconds(300)) << "busy after the terminal went away";
  if (hang_up.under == Under::kNohup) {
    EXPECT_TRUE(WIFEXITED(wait_status) && WEXITSTATUS(wait_status) < 128)
        << "ended by signal " << (WEXITSTATUS(wait_status) - 128);
  } else {
    EXPECT_TRUE(WIFEXITED(wait_status) ||
                (WIFSIGNALED(wait_status) && WTERMSIG(wait_status) == SIGHUP))
        << "status " << wait_status;
  }
  files.ExpectNoSanitizerReport();
  EXPECT_EQ(files.ReadFile("score.dat"), "0\n");
}

INSTANTIATE_TEST_SUITE_P(EndToEndRobustnessTest, HangUpTest,
                         ::testing::Values(HangUpCase{Under::kNothing, false, "OnTheMenu"},
                                           HangUpCase{Under::kNothing, true, "DuringAGame"},
                                           HangUpCase{Under::kNohup, false, "OnTheMenuUnderNohup"},
                                           HangUpCase{Under::kNohup, true,
                                                      "DuringAGameUnderNohup"}),
                         [](const auto& test) { return std::string(test.param.name); });

// Whether the process is held in a write or in a wait for its output to be taken, from the
// system call it is in and its arguments (/proc): the game waits for keys and time alone with a
// ppoll of two descriptors, or with a select that watches nothing for writing.
bool HeldByItsOutput(pid_t pid) {
  std::ifstream file("/proc/" + std::to_string(pid) + "/syscall");
  long number = -1;
  std::string first, second, third;
  if (!(file >> number >> first >> second >> third)) return false;
  const bool select = number == SYS_select || number == SYS_pselect6;
  return number == SYS_write || (number == SYS_ppoll && second == "0x3") ||
         (select && third != "0x0");
}

// Stops reading the terminal and makes the game repaint it whole, one resize after another, until
// the game is held by its output.
bool HoldByItsOutput(int master, pid_t game) {
  winsize size{};
  size.ws_row = kGameRows;
  for (int resize = 0; resize < 2000; ++resize) {
    size.ws_col = static_cast<unsigned short>(kGameColumns + resize % 2);
    ::ioctl(master, TIOCSWINSZ, &size);
    std::this_thread::sleep_for(milliseconds(2));
    if (resize % 50 == 49) {
      std::this_thread::sleep_for(milliseconds(100));
      if (HeldByItsOutput(game)) return true;
    }
  }
  return false;
}

// A terminal that stops reading holds the game; an ending signal still ends it at once, by that
// signal, with the terminal's settings given back. Other signals meanwhile neither end the game
// nor make it spin.
TEST(EndToEndRobustnessTest, AnEndingSignalEndsTheGameWhileItsOutputIsHeld) {
  TmuxSession files;  // only for its folders: this terminal is a bare pseudo-terminal
  WriteUsualFiles(files, 0);
  const auto [game, reported, master] = StartInPseudoTerminal(files, Under::kNothing);
  ASSERT_GE(game, 0) << std::strerror(errno);
  std::string seen;
  const bool ready = reported > 0 && ReadUntil(master, "Welcome to Vorlix", seen);
  EXPECT_LT(seen.find("Loading.."), seen.find("Welcome")) << "the loading line shows first";
  const bool held = ready && HoldByItsOutput(master, game);
  const std::optional<milliseconds> cpu_before = CpuTime(game);
  ::kill(game, SIGWINCH);
  std::this_thread::sleep_for(milliseconds(300));
  const std::optional<milliseconds> cpu_after = CpuTime(game);
  const bool still_held = HeldByItsOutput(game);
  ::kill(game, SIGTERM);
  const std::optional<int> ended = AwaitEnd(game, milliseconds(2000));
  if (!ended) {
    ::kill(game, SIGKILL);
    ::waitpid(game, nullptr, 0);
  }
  termios settings{};
  const bool got_settings = ::tcgetattr(master, &settings) == 0;
  ::close(master);
  ASSERT_TRUE(ready) << "the game never got going; it wrote:\n" << seen;
  ASSERT_TRUE(held) << "the terminal never filled up";
  EXPECT_TRUE(still_held) << "a resize while held";
  ASSERT_TRUE(cpu_before && cpu_after);
  EXPECT_LT(*cpu_after - *cpu_before, milliseconds(100)) << "busy while held";
  ASSERT_TRUE(ended.has_value()) << "still running 2 s after SIGTERM";
  EXPECT_TRUE(WIFSIGNALED(*ended) && WTERMSIG(*ended) == SIGTERM) << "status " << *ended;
  ASSERT_TRUE(got_settings);
  EXPECT_NE(settings.c_lflag & ECHO, 0u);
  EXPECT_NE(settings.c_lflag & ICANON, 0u);
  files.ExpectNoSanitizerReport();
}

// Keys are read while the output is held, each as it comes: Esc and a key 0.3 s after it are two
// keys, not Alt and that key, and the Esc ends the game once the terminal reads again.
TEST(EndToEndRobustnessTest, EscAndAKeyAfterItAreTwoKeysWhileItsOutputIsHeld) {
  TmuxSession files;
  WriteUsualFiles(files, 0);
  const auto [game, reported, master] = StartInPseudoTerminal(files, Under::kNothing);
  ASSERT_GE(game, 0) << std::strerror(errno);
  std::string seen;
  const bool playing = reported > 0 && ReadUntil(master, "Welcome to Vorlix", seen) &&
                       ::write(master, "p", 1) == 1 && ReadUntil(master, "Level: 0", seen) &&
                       ::write(master, " ", 1) == 1;
  const bool held = playing && HoldByItsOutput(master, game);
  bool ended = false;
  if (held && ::write(master, "\x1b", 1) == 1) {
    std::this_thread::sleep_for(milliseconds(300));
    ended = ::write(master, "x", 1) == 1 && ReadUntil(master, "GAME OVER", seen);
  }
  ::kill(game, SIGKILL);
  ::waitpid(game, nullptr, 0);
  ::close(master);
  ASSERT_TRUE(playing) << "the game never got going; it wrote:\n" << seen;
  ASSERT_TRUE(held) << "the terminal never filled up";
  EXPECT_TRUE(ended) << "the game went on: Esc and the key after it were taken for one key";
  files.ExpectNoSanitizerReport();
}

TEST(EndToEndRobustnessTest, WithoutATerminalItSaysSoInOneLineAndFails) {
  TmuxSession files;
  std::string output;
  const ProcessEnd end = RunProgram(
      {"sh", "-c", "cd '" + files.folder().string() + "' && exec '" + GameBinary() + "'"}, &output);
  EXPECT_EQ(end.status, 1);
  EXPECT_FALSE(end.signal.has_value());
  ASSERT_FALSE(output.empty());
  EXPECT_EQ(output.find('\n'), output.size() - 1) << "one line:\n" << output;
  EXPECT_EQ(output.find('\x1b'), std::string::npos) << "no terminal codes";
  EXPECT_TRUE(std::filesystem::is_empty(files.folder())) << "no file written";
}

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
