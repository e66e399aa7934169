// The real program ended by a signal, or crashing: from the menu, a game or the help, it gives
// the terminal back every time and still ends as the signal would end it.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/types.h>
#include <sys/user.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "support/end_to_end.h"
#include "support/tmux_session.h"

namespace {

using std::chrono::milliseconds;

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

}  // namespace
