#include "support/end_to_end.h"

#include <cstdio>
#include <fstream>
#include <sstream>

std::string RepositoryHelpText() {
  std::ifstream file(std::string(VORLIX_SOURCE_DIR) + "/help.txt", std::ios::binary);
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

void WriteUsualFiles(const TmuxSession& session, int best_score) {
  session.WriteFile("help.txt", RepositoryHelpText());
  session.WriteFile("score.dat", std::to_string(best_score) + "\n");
}

::testing::AssertionResult WaitForMenu(const TmuxSession& session) {
  return session.WaitFor("the menu", [](const Screen& screen) {
    return screen.TextAt(31, 14, "Welcome to Vorlix") && screen.TextAt(46, 19, "Play(P)") &&
           !screen.Contains("Press any key");
  });
}

::testing::AssertionResult WaitForGameOver(const TmuxSession& session) {
  return session.WaitForText(117, 18, "Press any key to continue.");
}

::testing::AssertionResult ContinueToMenu(const TmuxSession& session) {
  session.SendText(" ");
  return WaitForMenu(session);
}

void ExpectGameEnd(const TmuxSession& session, int status) {
  int shown = -1;
  ASSERT_TRUE(session.WaitForGameEnd(shown));
  EXPECT_EQ(shown, status);
  session.ExpectTerminalRestored();
}

void QuitFromMenu(const TmuxSession& session) {
  session.SendKeys({"Escape"});
  ExpectGameEnd(session, 0);
}

void EndGameAndQuit(const TmuxSession& session) {
  session.SendKeys({"Escape"});
  ASSERT_TRUE(WaitForGameOver(session));
  ASSERT_TRUE(ContinueToMenu(session));
  QuitFromMenu(session);
}

std::optional<Cell> ShownHead(const Screen& screen) {
  const std::string text = screen.Text(137, 12, 10);
  Cell head;
  char close = 0;
  if (std::sscanf(text.c_str(), "(%d, %d%c", &head.x, &head.y, &close) != 3 || close != ')') {
    return std::nullopt;
  }
  return head;
}
