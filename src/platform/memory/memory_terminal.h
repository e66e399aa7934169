#pragma once
// A whole terminal in memory for the tests: a 155 by 42 screen, key codes that arrive at set
// moments of a virtual millisecond clock, and sleeps that pass at once by moving that clock.

#include <cstdint>
#include <deque>
#include <functional>
#include <string_view>

#include "platform/screen_model.h"
#include "platform/terminal.h"

// Thrown by ReadKey when no key will ever come, so that a test fails instead of hanging.
struct NoMoreKeys {};

class MemoryTerminal : public Terminal {
 public:
  // `start` is the tick count that Now() shows at the beginning.
  explicit MemoryTerminal(TickCount start = 1'000'000) : start_(start) {}

  // Schedules a key code for `at` milliseconds after the terminal was made.
  void PressAt(std::uint64_t at, int code);
  // Schedules key codes for right now, in order.
  void Type(std::string_view keys);
  void Press(int code) { PressAt(elapsed_, code); }
  // The two codes of an arrow key: the prefix 224, then 72 up, 80 down, 75 left or 77 right.
  void PressArrow(int scan_code);
  std::size_t pending_keys() const { return keys_.size(); }

  const ScreenModel& screen() const { return screen_; }
  char CharAt(int x, int y) const { return screen_.At(x, y).ch; }
  Colour ColourAt(int x, int y) const { return screen_.At(x, y).colour; }
  // The text that starts at (x, y), `length` cells long.
  std::string TextAt(int x, int y, int length) const;
  int bells() const { return bells_; }
  // Milliseconds since the terminal was made.
  std::uint64_t elapsed() const { return elapsed_; }
  void Advance(std::uint64_t ms) { elapsed_ += ms; }

  bool font_set = false;
  bool cursor_hidden = false;
  bool screen_fitted = false;
  // Called at the start of every key read and every sleep, to look at the screen at that moment.
  std::function<void(MemoryTerminal&)> on_key_wait;
  std::function<void(MemoryTerminal&)> on_sleep;

  void MoveCursor(int x, int y) override { screen_.MoveCursor(x, y); }
  void WriteChar(char ch) override;
  void SetColour(Colour colour) override { screen_.SetColour(colour); }
  void Clear() override { screen_.Clear(); }
  void Flush() override {}
  bool CursorOnScreen() const override { return screen_.cursor_y() < kScreenHeight; }
  void SetFont() override { font_set = true; }
  void HideCursor() override { cursor_hidden = true; }
  ScreenFit FitScreen() override {
    screen_fitted = true;
    return ScreenFit::kReady;
  }
  bool KeyPending() override;
  int ReadKey() override;
  TickCount Now() override { return static_cast<TickCount>(start_ + elapsed_); }
  void SleepUntil(TickCount deadline) override;

 private:
  struct ScheduledKey {
    std::uint64_t at;
    int code;
  };

  ScreenModel screen_;
  std::deque<ScheduledKey> keys_;
  TickCount start_;
  std::uint64_t elapsed_ = 0;
  int bells_ = 0;
};
