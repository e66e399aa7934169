#pragma once
// Helpers for whole games on the in-memory terminal: saved games to start from, and the screen
// as it stood at each tick.

#include <string>
#include <vector>

#include "snake/snake_body.h"
#include "support/console_test.h"
#include "support/save_text.h"

class GameTest : public ConsoleTest {
 protected:
  GameTest();

  // Keys for the game: `code` pressed `at` milliseconds after the start.
  void KeyAt(std::uint64_t at, int code) { term.PressAt(at, code); }
  // The key that dismisses the game-over screen, long after everything else.
  void KeyAfterTheEnd() { term.PressAt(kTheEnd, ' '); }

  // The head's cell as the info panel shows it at tick `tick`.
  Point HeadAt(std::size_t tick) const;

  // The screen as it stood at the start of each paced wait, which ends every tick.
  std::vector<ScreenModel> frames;
  std::vector<std::uint64_t> frame_times;

  static constexpr std::uint64_t kTheEnd = 100'000'000;
};
