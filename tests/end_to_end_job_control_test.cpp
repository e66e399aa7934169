// The real program typed into a shell with job control: Ctrl+Z gives the terminal back and fg
// brings the game back as it was; bg, kill and Ctrl+C leave the shell a terminal it can use.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <sstream>
#include <string>

#include "support/end_to_end.h"
#include "support/tmux_session.h"

namespace {

using std::chrono::milliseconds;

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
  ASSERT_TRUE(session.WaitForText(kLevelLine, "Level: 0"));
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

}  // namespace
