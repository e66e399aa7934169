#include "console/console.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <optional>
#include <string>

namespace {

Terminal* active_terminal = nullptr;

// The pacing mark of WaitPaced, shared by every paced wait in the program; unset until the first.
std::optional<TickCount> last_tick;

Terminal& Active() {
  return *active_terminal;
}

char UpperCase(int code) {
  return static_cast<char>(std::toupper(static_cast<unsigned char>(code)));
}

}  // namespace

void AttachTerminal(Terminal& terminal) {
  active_terminal = &terminal;
  last_tick.reset();
}

void GotoXY(int x, int y) {
  Active().MoveCursor(x, y);
}

void PutCharAt(int x, int y, char ch) {
  GotoXY(x, y);
  Active().WriteChar(ch);
}

void SetColour(Colour colour) {
  Active().SetColour(colour);
}

void WriteText(const char* format, ...) {
  char small[256];
  std::va_list args;
  va_start(args, format);
  std::va_list again;
  va_copy(again, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string large;
  const char* text = small;
  if (length >= static_cast<int>(sizeof small)) {
    large.resize(static_cast<std::size_t>(length) + 1);
    std::vsnprintf(large.data(), large.size(), format, again);
    text = large.c_str();
  }
  va_end(again);
  for (int i = 0; i < length; ++i) Active().WriteChar(text[i]);
}

// What was written before the clear is shown first, as it would be on a console that draws every
// character at once: "Loading.." stands until start-up clears it.
void ClearScreen() {
  Active().Flush();
  Active().Clear();
}

bool CursorOnScreen() {
  return Active().CursorOnScreen();
}

void ClearPlayfield() {
  for (int x = kPlayfieldLeft; x <= kPlayfieldRight; ++x) {
    for (int y = kPlayfieldTop; y <= kPlayfieldBottom; ++y) PutCharAt(x, y, ' ');
  }
}

void WaitPaced(unsigned ms) {
  Terminal& terminal = Active();
  terminal.Flush();
  if (!last_tick) last_tick = terminal.Now();
  const TickCount deadline = *last_tick + ms;
  while (static_cast<TickCount>(terminal.Now() - *last_tick) < ms) terminal.SleepUntil(deadline);
  last_tick = terminal.Now();  // a fresh reading, not the one that ended the wait
}

bool KeyHit() {
  Active().Flush();
  return Active().KeyPending();
}

int GetKey() {
  Active().Flush();
  return Active().ReadKey();
}

char WaitKey() {
  return UpperCase(GetKey());
}

void DrainKeys() {
  while (KeyHit()) WaitKey();
}

void SetConsoleFont() {
  Active().SetFont();
}
void HideCursor() {
  Active().HideCursor();
}
ScreenFit FitConsole() {
  return Active().FitScreen();
}
