// The real program on a bare pseudo-terminal that goes away, or stops reading, or with no terminal
// at all: it ends at once without spinning, and gives back what it changed.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <string>
#include <thread>

#include "support/end_to_end.h"
#include "support/pseudo_terminal.h"
#include "support/tmux_session.h"

namespace {

using std::chrono::milliseconds;

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
  std::string first;
  std::string second;
  std::string third;
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

}  // namespace
