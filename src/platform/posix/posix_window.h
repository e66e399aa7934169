#pragma once
// The terminal's window: its size, where the game's screen stands in it, and what the game says
// while the window is too small to hold it.

#include <optional>
#include <string>

#include "platform/vt/frame_encoder.h"

namespace posix {

struct WindowSize {
  int columns = 0;
  int rows = 0;
};

// The terminal's size, or nothing when it does not tell.
std::optional<WindowSize> MeasureWindow();
// Whether the game's screen fits; a terminal that does not tell its size is taken to fit.
bool Fits(const std::optional<WindowSize>& size);
// In a larger terminal the game's screen stands in the middle, the rest black around it.
FrameEncoder::Position CentreIn(const std::optional<WindowSize>& size);
// Asks a window of `size` to grow to hold the game's screen. Many terminals do, and then say so
// with SIGWINCH.
std::string GrowRequest(const WindowSize& size);

// Before the game has shown anything, Esc quits while the window is too small; later no key
// counts, so that a game in play cannot be lost by a key meant for it.
enum class Hold { kAtStartUp, kDuringPlay };
// What a window too small shows, written straight to the terminal, since the game's screen does
// not fit to carry it.
std::string TooSmallMessage(const WindowSize& size, Hold hold);

}  // namespace posix
