// The real program in a window too small for it, or resized during a game: it asks for a larger
// window, holds the game meanwhile, and shows exactly what it showed once the window has grown.

#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "support/end_to_end.h"
#include "support/tmux_session.h"

namespace {

using std::chrono::milliseconds;

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

}  // namespace
