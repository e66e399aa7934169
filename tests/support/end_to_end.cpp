#include "support/end_to_end.h"

#include <signal.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <vector>

#include "support/save_text.h"

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
    return screen.TextAt(kWelcomeLine, "Welcome to Vorlix") &&
           screen.TextAt(kPlayItem, "Play(P)") && !screen.Contains("Press any key");
  });
}

::testing::AssertionResult StartAtTheMenu(TmuxSession& session, int best_score) {
  WriteUsualFiles(session, best_score);
  session.StartGame();
  return WaitForMenu(session);
}

::testing::AssertionResult StartRunningGame(const TmuxSession& session) {
  session.SendText("p");
  if (auto shown = session.WaitForText(kLevelLine, "Level: 0"); !shown) return shown;
  return WaitForTheSnakeToMoveOn(session, " ");
}

::testing::AssertionResult WaitForHeadToLeave(const TmuxSession& session, Point from,
                                              std::chrono::milliseconds timeout) {
  return session.WaitFor(
      "the snake to move on",
      [&](const Screen& screen) {
        const std::optional<Point> head = ShownHead(screen);
        return head && *head != from;
      },
      timeout);
}

::testing::AssertionResult WaitForTheSnakeToMoveOn(const TmuxSession& session,
                                                   std::string_view keys) {
  const std::optional<Point> head = ShownHead(session.Capture());
  if (!head) return ::testing::AssertionFailure() << "no head position in the info panel";
  session.SendText(keys);
  return WaitForHeadToLeave(session, *head);
}

void SendToGame(const TmuxSession& session, int signal_number) {
  pid_t pid = 0;
  ASSERT_TRUE(session.WaitForGamePid(pid));
  ASSERT_EQ(::kill(pid, signal_number), 0);
}

::testing::AssertionResult WaitForGameOver(const TmuxSession& session) {
  return session.WaitForText(kGameOverPrompt, "Press any key to continue.");
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

int ShownNumber(const Screen& screen, Point line, std::string_view label) {
  const std::string row = screen.Row(line.y);
  const std::size_t after = static_cast<std::size_t>(line.x) + label.size();
  if (!screen.TextAt(line, label) || row.size() <= after) return -1;
  int value = -1;
  if (std::sscanf(row.c_str() + after, "%d", &value) != 1) return -1;
  return value;
}

void ExpectFrame(const Screen& screen) {
  std::vector<std::string> missing;
  const auto expect = [&](int x, int y, const char* glyph, const char* what) {
    if (screen.At(x, y).glyph != glyph) {
      missing.push_back(std::string(what) + " at (" + std::to_string(x) + ", " + std::to_string(y) +
                        ")");
    }
  };
  for (int x = 1; x <= 100; ++x) {
    expect(x, 1, "#", "top border");
    expect(x, 40, "#", "bottom border");
  }
  for (int y = 1; y <= 40; ++y) {
    expect(1, y, "#", "left border");
    expect(100, y, "#", "right border");
  }
  for (int y : {1, 26, 40}) {
    for (int x = 101; x <= 153; ++x) expect(x, y, "-", "panel rule");
    expect(154, y, " ", "nothing after the panel rule");
  }
  expect(0, 1, " ", "nothing left of the border");
  EXPECT_TRUE(missing.empty()) << "the frame is not whole: " << missing.front() << " and "
                               << missing.size() - 1 << " more:\n"
                               << screen.ToString();
}

std::optional<Point> ShownHead(const Screen& screen) {
  const std::string text = screen.Text(kHeadCell, 10);
  Point head;
  char close = 0;
  if (std::sscanf(text.c_str(), "(%d, %d%c", &head.x, &head.y, &close) != 3 || close != ')') {
    return std::nullopt;
  }
  return head;
}

std::string SmallSave(int score, int delay) {
  return SaveText(kRight, {{50, 20}, {49, 20}, {48, 20}}, {10, 10}, score, delay);
}
