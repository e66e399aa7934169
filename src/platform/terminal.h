#pragma once
// The seam between the game and the machine it runs on. Everything the console layer needs from a
// platform is one of these few operations; the POSIX terminal, the Windows console and the
// in-memory terminal of the tests each implement them.

#include <cstdint>
#include <memory>

// Text attributes as the Windows console knows them: bit 0 blue, bit 1 green, bit 2 red, bit 3
// intensity, always on a black background.
enum class Colour : std::uint16_t {
  Green = 2,
  Red = 4,
  Normal = 7,
  DarkGrey = 8,
  LightBlue = 9,
  LightGreen = 10,
  LightCyan = 11,
  LightMagenta = 13,
};

// The game's name, as the platform's own messages give it.
inline constexpr const char* game_title = "Vorlix";

// The screen every platform gives the game: 155 columns by 42 rows.
inline constexpr int kScreenWidth = 155;
inline constexpr int kScreenHeight = 42;

// The key code of Esc.
inline constexpr int kEscKey = 27;

// A millisecond count that rises steadily and wraps from 4294967295 to 0. Differences between two
// readings are taken modulo 2^32, which keeps them right across the wrap.
using TickCount = std::uint32_t;

// How long from `now` until `deadline`; 0 once it has come. A difference of half the count's range
// or more is a deadline already passed.
inline TickCount TimeUntil(TickCount deadline, TickCount now) {
  const TickCount ahead = deadline - now;
  return ahead < 0x8000'0000u ? ahead : 0;
}

enum class ScreenFit { kReady, kPlayerQuit };

class Terminal {
 public:
  Terminal() = default;
  virtual ~Terminal() = default;
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;
  Terminal(Terminal&&) = delete;
  Terminal& operator=(Terminal&&) = delete;

  // Puts the output cursor at (x, y); a position off the screen leaves it where it was.
  virtual void MoveCursor(int x, int y) = 0;
  // Writes one character at the cursor in the current colour. '\n', '\t' and '\a' keep their
  // console meaning (next line, next tab stop, bell); every other character fills one cell.
  virtual void WriteChar(char ch) = 0;
  virtual void SetColour(Colour colour) = 0;
  // Blanks the whole screen and puts the cursor at (0, 0).
  virtual void Clear() = 0;
  // Makes everything written so far visible. Called before every wait and key read.
  virtual void Flush() = 0;
  // False once text has run past the last row: until the next move, nothing written shows.
  virtual bool CursorOnScreen() const = 0;

  // Start-up steps that only some platforms can carry out.
  virtual void SetFont() = 0;
  virtual void HideCursor() = 0;
  // Makes the screen 155 columns by 42 rows, or waits until it is at least that large; a platform
  // that lets the player give up waiting says so.
  virtual ScreenFit FitScreen() = 0;

  // Whether a key code is waiting. It never waits for a key to be pressed, but it may wait for the
  // rest of one already on its way (a terminal sends some keys as several bytes) and, where the
  // platform holds the game (a window too small to play in), until the game may go on.
  virtual bool KeyPending() = 0;
  // The next key code (0..255), waiting as long as it takes for one.
  virtual int ReadKey() = 0;

  virtual TickCount Now() = 0;
  // Sleeps until Now() has reached `deadline` (compared modulo 2^32), or a little earlier if
  // something needs the program's attention; callers check the clock again.
  virtual void SleepUntil(TickCount deadline) = 0;
};

// The terminal this program runs in, ready for drawing, or nullptr (with a reason on standard
// error) when standard input or output is not an interactive terminal.
std::unique_ptr<Terminal> OpenSystemTerminal();
