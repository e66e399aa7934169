#pragma once
// The user's terminal as the game finds and leaves it on POSIX systems: the changes the game makes
// to it (raw mode, the alternate screen, colours, the hidden cursor), each undone by its own undo,
// in reverse order and once; its window, where the game's screen stands in it and what the game
// says while it is too small; and which characters it can take.

#include <termios.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "platform/vt/frame_encoder.h"

namespace posix_platform {

// How long a restore waits for a terminal that takes no output before giving up on it.
constexpr std::chrono::milliseconds kRestoreStall{200};

enum class Mode { Raw, AlternateScreen, Colours, HiddenCursor };

// After a suspension the same changes are made again.
class TerminalModes {
 public:
  TerminalModes() = default;
  ~TerminalModes() { Leave(); }
  TerminalModes(const TerminalModes&) = delete;
  TerminalModes& operator=(const TerminalModes&) = delete;

  // Makes `mode` part of the game's terminal, now and after every resume.
  void Add(Mode mode);
  // Makes again every wanted change that is not in force, after Leave.
  void Enter();
  // Sends every change in force again, for a terminal that someone else has reset.
  void Reassert();
  bool InForce(Mode mode) const;
  // Undoes every change in force, the last first.
  void Leave();
  // Lets go of every change in force without undoing it, for a terminal that another process
  // group has taken over and set as it wants.
  void Forget();

 private:
  void Apply(Mode mode);
  bool EnterRawMode();
  void PrepareEmergency();

  std::vector<Mode> wanted_;
  std::vector<Mode> applied_;
  termios original_{};
  termios raw_{};
};

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

// Whether the user's locale takes UTF-8, and with it the terminal. A terminal of another character
// set reads some bytes from 128 up as controls, so it is sent none. The game's own locale stays
// "C", in which toupper changes only a..z.
Glyphs GlyphsOfTheLocale();

}  // namespace posix_platform
