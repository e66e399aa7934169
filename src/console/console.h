#pragma once
// The console: the one path between the game and its screen, keyboard, clock and files, and the
// screen furniture drawn through it (frame, panels, menu text, help viewer).

#include "console/screen_layout.h"
#include "platform/files.h"
#include "platform/terminal.h"

#if defined(__GNUC__) || defined(__clang__)
#define VORLIX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VORLIX_PRINTF(fmt, args)
#endif

// Every console operation below goes to this terminal. Attaching one also starts the pacing of
// WaitPaced afresh, as at the start of a process.
void AttachTerminal(Terminal& terminal);

void GotoXY(int x, int y);
void PutCharAt(int x, int y, char ch);
void SetColour(Colour colour);
void WriteText(const char* format, ...) VORLIX_PRINTF(1, 2);
void ClearScreen();
void ClearPlayfield();
// False once text has run past the last row of the screen, where nothing more shows.
bool CursorOnScreen();

// Returns once `ms` milliseconds have passed since the previous WaitPaced anywhere in the program
// returned; the first call of all waits the full `ms`.
void WaitPaced(unsigned ms);
// The next key code, upper-cased.
char WaitKey();
// Throws away every key code that is already waiting; never waits for a new one.
void DrainKeys();
// The game loop's own poll: whether a key code waits, and the raw code (0..255) when one does.
bool KeyHit();
int GetKey();

// Start-up steps (font, hidden cursor, screen size), as far as the platform allows them.
void SetConsoleFont();
void HideCursor();
ScreenFit FitConsole();

void DrawFrame();
// The running score beside `best`, the best score when the game started.
void DrawScorePanel(int score, int best);
void DrawInfoPanel(int head_x, int head_y, int length, int food_x, int food_y, int delay);
void DrawMenu(bool has_save);

// Types "help.txt" into the playfield and waits for a key.
void ShowHelp();
