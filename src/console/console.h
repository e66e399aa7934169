#pragma once
// The console: the one path between the game and its screen, keyboard, clock and files, and the
// screen furniture drawn through it (frame, panels, menu text, help viewer).

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

#include "console/protocol/screen_model.h"
#include "console/terminal.h"

#if defined(__GNUC__) || defined(__clang__)
#define VORLIX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define VORLIX_PRINTF(fmt, args)
#endif

// The playfield inside the '#' border.
inline constexpr int kPlayfieldLeft = 2;
inline constexpr int kPlayfieldRight = 99;
inline constexpr int kPlayfieldTop = 2;
inline constexpr int kPlayfieldBottom = 39;

inline constexpr char kEscKey = 27;

// Every console operation below goes to this terminal. Attaching one also starts the pacing of
// WaitPaced afresh, as at the start of a process.
void AttachTerminal(Terminal& terminal);

// The terminal this program runs in, ready for drawing, or nullptr (with a reason on standard
// error) when standard input or output is not an interactive terminal.
std::unique_ptr<Terminal> OpenSystemTerminal();

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

// What reading one of the game's files gave. Only a plain file is read (a link to one is fine): a
// folder, a FIFO, a device or a socket in its place counts as a file that cannot be opened, and
// no open or read ever waits.
struct FileContents {
  enum class Status {
    kRead,        // `text` is the file, or its first `limit` bytes when `cut`
    kMissing,     // nothing of that name
    kUnreadable,  // there, but not a plain file that can be opened for reading
    kReadError,   // a read failed part-way; `text` holds what came before
  };
  Status status = Status::kMissing;
  std::string text;
  bool cut = false;  // the file goes on beyond `limit`
};
FileContents ReadGameFile(const char* path, std::size_t limit);

// Whether `path` is a plain file that can be opened for reading; it is not read.
bool FileExists(const char* path);
// Replaces the file at `path` with `contents` so that it is always either the old file or the new
// one, whole: a crash or a full disk never leaves it cut short. The new copy is written to a file
// of a fresh name beside it, so nothing else that stands in the folder is followed, truncated or
// waited on, and it keeps what was set on the old file (owner, group, permissions). A file the
// player may not write is left as it is. Where no copy can be made beside a file the player may
// write (a shared file in a folder closed to them), the file is written over in place instead.
// False when it could not be done.
bool ReplaceFile(const char* path, std::string_view contents);

// Start-up steps (font, hidden cursor, screen size), as far as the platform allows them.
void SetConsoleFont();
void HideCursor();
void FitConsole();

// The best score of all games, loaded at start-up and raised at game over.
extern int high_score;
// False when "score.dat" is there but could not be read at start-up: a new best score is then
// kept in memory only, and the file is never replaced.
extern bool score_file_replaceable;

inline constexpr const char* game_title = "Vorlix";

void DrawFrame();
void DrawScorePanel(int score);
void DrawInfoPanel(int head_x, int head_y, int length, int food_x, int food_y, int delay);
void DrawMenu(bool has_save);

// Types "help.txt" into the playfield and waits for a key.
void ShowHelp();
