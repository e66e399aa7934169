// A save killed at any moment leaves "save.dat" whole: the old game or the new one, never a
// mixture or a stump. A child process saves two long games in turn; the test kills it with
// SIGKILL at random moments, 200 times, and reads what is left each time.

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "game/game_state.h"
#include "support/console_test.h"

namespace {

using SaveCrash = ConsoleTest;

Game LongGame(int rows, int score) {
  Game game;
  std::vector<Point> body;
  for (int y = 2; y < 2 + rows; ++y) {
    for (int i = 0; i < 98; ++i) body.push_back({y % 2 == 0 ? 2 + i : 99 - i, y});
  }
  for (std::size_t i = 2; i < body.size(); ++i) game.snake.Grow();
  game.snake.PlaceBody(body);
  game.food = {50, 39};
  game.score = score;
  return game;
}

TEST_F(SaveCrash, AKilledSaveLeavesTheOldOrTheNewFileWhole) {
  const Game first = LongGame(30, 1);
  const Game second = LongGame(20, 2);
  const std::string first_text = FormatSavedGame(SavedGameOf(first));
  const std::string second_text = FormatSavedGame(SavedGameOf(second));
  ASSERT_TRUE(WriteSavedGame(first));

  std::mt19937 random(2024);
  int saw_first = 0;
  int saw_second = 0;
  for (int round = 0; round < 200; ++round) {
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (;;) {
        WriteSavedGame(second);
        WriteSavedGame(first);
      }
    }
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 8000));
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);

    const std::string left = ReadFile("save.dat");
    ASSERT_TRUE(left == first_text || left == second_text)
        << "round " << round << ": " << left.size() << " bytes";
    ASSERT_TRUE(ParseSavedGame(left));
    (left == first_text ? saw_first : saw_second)++;
  }
  std::printf("200 kills: %d left the first game, %d the second\n", saw_first, saw_second);
  EXPECT_GT(saw_first + saw_second, 0);
}

}  // namespace
