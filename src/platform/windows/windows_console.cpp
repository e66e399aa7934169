// The Windows console: the terminal the game was first made for. Keys come from the C runtime's
// _kbhit/_getch, and the clock is GetTickCount.
//
// The console's own cursor rules are never relied on for where text lands: a ScreenModel follows
// every write by the same rules as on every other platform, so text past the last row is dropped
// rather than scrolled. Each Flush writes the cells that changed since the last one straight into
// the console's cells, a run along a row at a time.

#include <conio.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <vector>

#include "platform/changed_spans.h"
#include "platform/screen_model.h"
#include "platform/terminal.h"
#include "platform/windows/windows_api.h"

namespace {

static_assert(sizeof(CONSOLE_FONT_INFOEX) == 84);

// Console output modes: text is processed ('\a' rings), but nothing wraps by itself.
constexpr DWORD kOutputMode = ENABLE_PROCESSED_OUTPUT;

HANDLE Output() {
  return GetStdHandle(STD_OUTPUT_HANDLE);
}
HANDLE Input() {
  return GetStdHandle(STD_INPUT_HANDLE);
}

bool IsConsole(HANDLE handle) {
  DWORD mode = 0;
  return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0;
}

// Looks up a function that may be missing, as a generic pointer that callers cast to its type.
using AnyFunction = void (*)();
AnyFunction FindFunction(const char* module_name, const char* name) {
  HMODULE module = GetModuleHandleA(module_name);
  if (module == nullptr) module = LoadLibraryA(module_name);
  if (module == nullptr) return nullptr;
  return reinterpret_cast<AnyFunction>(GetProcAddress(module, name));
}

// What the console was like before the game changed it, given back when the game ends, and also
// when Ctrl+C, Ctrl+Break or the closing of the window ends it: the system calls the handler for
// those on a thread of its own while the game goes on, so it reads this only once armed.
struct ConsoleAsFound {
  DWORD mode = 0;
  UINT code_page = 0;
  std::optional<WORD> attributes;
  std::optional<CONSOLE_CURSOR_INFO> cursor;
};
ConsoleAsFound console_as_found;
std::atomic<bool> console_armed{false};

void GiveBack(const ConsoleAsFound& found) {
  HANDLE out = Output();
  if (found.attributes) SetConsoleTextAttribute(out, *found.attributes);
  if (found.cursor) SetConsoleCursorInfo(out, &*found.cursor);
  if (found.code_page != 0) SetConsoleOutputCP(found.code_page);
  SetConsoleMode(out, found.mode);
}

BOOL WINAPI OnConsoleEnding(DWORD) {
  if (console_armed.exchange(false)) GiveBack(console_as_found);
  return FALSE;  // the next handler, in the end the system's own, ends the process as before
}

// Wine's console does not survive a font change; everything else works there as on Windows.
bool RunningUnderWine() {
  return FindFunction("ntdll.dll", "wine_get_version") != nullptr;
}

// timeBeginPeriod(1) for the life of the terminal, so that Sleep wakes within a millisecond. The
// multimedia timer library is loaded at run time rather than linked.
class FineTimer {
 public:
  FineTimer() {
    using PeriodFunction = UINT(WINAPI*)(UINT);
    begin_ = reinterpret_cast<PeriodFunction>(FindFunction("winmm.dll", "timeBeginPeriod"));
    end_ = reinterpret_cast<PeriodFunction>(FindFunction("winmm.dll", "timeEndPeriod"));
    active_ = begin_ != nullptr && end_ != nullptr && begin_(1) == 0;  // 0 is TIMERR_NOERROR
  }
  ~FineTimer() {
    if (active_) end_(1);
  }
  FineTimer(const FineTimer&) = delete;
  FineTimer& operator=(const FineTimer&) = delete;

 private:
  UINT(WINAPI* begin_)(UINT) = nullptr;
  UINT(WINAPI* end_)(UINT) = nullptr;
  bool active_ = false;
};

bool IsModifier(WORD key) {
  switch (key) {
    case VK_SHIFT:
    case VK_CONTROL:
    case VK_MENU:
    case VK_LSHIFT:
    case VK_RSHIFT:
    case VK_LCONTROL:
    case VK_RCONTROL:
    case VK_LMENU:
    case VK_RMENU:
    case VK_LWIN:
    case VK_RWIN:
    case VK_CAPITAL:
    case VK_NUMLOCK:
    case VK_SCROLL:
      return true;
    default:
      return false;
  }
}

// The keys that every C runtime's _getch turns into two codes, 224 and the key's own: the
// arrows and the six keys above them. (Microsoft's also gives two codes for the function keys,
// but wine's passes over them.) Wine's _kbhit counts none of these.
bool IsTwoCodeKey(WORD key) {
  switch (key) {
    case VK_UP:
    case VK_DOWN:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_INSERT:
    case VK_DELETE:
    case VK_HOME:
    case VK_END:
    case VK_PRIOR:
    case VK_NEXT:
      return true;
    default:
      return false;
  }
}

// What the console input queue holds, as far as _getch is concerned.
enum class Queued {
  kKey,       // a key press that _getch surely turns into a code: a character, an arrow, Delete
  kMaybeKey,  // a key press of another kind: _getch may turn it into a code or pass over it
  kNothing,   // only events that _getch passes over (focus, mouse, releases, modifiers)
};

class WindowsTerminal final : public Terminal {
 public:
  WindowsTerminal() : under_wine_(RunningUnderWine()) {
    HANDLE out = Output();
    ConsoleAsFound& found = console_as_found;
    found = {};
    GetConsoleMode(out, &found.mode);
    found.code_page = GetConsoleOutputCP();
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(out, &info)) found.attributes = info.wAttributes;
    CONSOLE_CURSOR_INFO cursor;
    if (GetConsoleCursorInfo(out, &cursor)) found.cursor = cursor;
    console_armed = true;
    SetConsoleCtrlHandler(OnConsoleEnding, TRUE);
    SetConsoleMode(out, kOutputMode);
    SetConsoleOutputCP(437);  // bytes from 128 up show as the game's box and block glyphs
    // What CLS blanks the screen in; the game's own cells carry their colours with them.
    SetConsoleTextAttribute(out, static_cast<WORD>(Colour::Normal));
    // Wine starts reading the keyboard only once the program looks at its input.
    INPUT_RECORD record;
    DWORD count = 0;
    PeekConsoleInputA(Input(), &record, 1, &count);
  }

  ~WindowsTerminal() override {
    Flush();
    SetConsoleCtrlHandler(OnConsoleEnding, FALSE);
    console_armed = false;
    GiveBack(console_as_found);
  }

  WindowsTerminal(const WindowsTerminal&) = delete;
  WindowsTerminal& operator=(const WindowsTerminal&) = delete;

  void MoveCursor(int x, int y) override { model_.MoveCursor(x, y); }

  void WriteChar(char ch) override {
    if (model_.Write(ch)) bell_ = true;  // rung once, when the frame is shown
  }

  void SetColour(Colour colour) override { model_.SetColour(colour); }

  void Clear() override {
    std::system("CLS");
    AfterCommand();
    model_.Clear();
    shown_.fill(Cell{});
  }

  void Flush() override {
    const ScreenModel::RowSet rows = model_.TakeChangedRows();
    for (const Span& span : ChangedSpans(shown_, model_.cells(), rows)) {
      WriteCells(SMALL_RECT{static_cast<SHORT>(span.x), static_cast<SHORT>(span.y),
                            static_cast<SHORT>(span.x + span.length - 1),
                            static_cast<SHORT>(span.y)});
    }
    CopyRows(shown_, model_.cells(), rows);
    if (bell_) Ring();
    bell_ = false;
    // The console's own cursor is hidden, but it is where the console writes after the game.
    const COORD cursor{static_cast<SHORT>(model_.cursor_x()),
                       static_cast<SHORT>(model_.cursor_y())};
    if (cursor.Y < kScreenHeight && (cursor.X != cursor_.X || cursor.Y != cursor_.Y)) {
      SetConsoleCursorPosition(Output(), cursor);
      cursor_ = cursor;
    }
  }

  bool CursorOnScreen() const override { return model_.cursor_y() < kScreenHeight; }

  void SetFont() override {
    if (under_wine_) return;
    CONSOLE_FONT_INFOEX font{};
    font.cbSize = sizeof font;
    font.nFont = 0;
    font.dwFontSize = COORD{10, 10};
    font.FontFamily = 0;
    font.FontWeight = 400;
    const wchar_t face[] = L"Fixedsys";
    for (std::size_t i = 0; i < std::size(face); ++i) font.FaceName[i] = face[i];
    SetCurrentConsoleFontEx(Output(), FALSE, &font);
  }

  void HideCursor() override {
    HANDLE out = Output();
    CONSOLE_CURSOR_INFO cursor;
    if (!GetConsoleCursorInfo(out, &cursor)) return;
    cursor.bVisible = FALSE;
    SetConsoleCursorInfo(out, &cursor);
  }

  ScreenFit FitScreen() override {
    std::system("MODE CON LINES=42 COLS=155");
    AfterCommand();
    // Resizing may lose what the screen showed, and a console without the command prints a
    // complaint instead: either way the screen is put back as the game drew it.
    Repaint();
    return ScreenFit::kReady;
  }

  bool KeyPending() override { return _kbhit() != 0 || LookAtInput() == Queued::kKey; }

  int ReadKey() override {
    for (;;) {
      if (_kbhit() != 0 || LookAtInput() != Queued::kNothing) return _getch() & 0xff;
      // Whatever woke the last wait has been cleared away, so this sleeps until the next event.
      WaitForSingleObject(Input(), INFINITE);
    }
  }

  TickCount Now() override { return static_cast<TickCount>(GetTickCount()); }

  void SleepUntil(TickCount deadline) override {
    const TickCount left = TimeUntil(deadline, Now());
    if (left != 0) Sleep(left);
  }

 private:
  // Writes the cells of `area` as the model has them straight into the console's cells, which
  // moves no cursor and never scrolls, not even at the bottom-right corner.
  void WriteCells(SMALL_RECT area) {
    const SHORT width = static_cast<SHORT>(area.Right - area.Left + 1);
    const SHORT height = static_cast<SHORT>(area.Bottom - area.Top + 1);
    cells_.resize(static_cast<std::size_t>(width * height));
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const Cell& cell = model_.At(area.Left + x, area.Top + y);
        CHAR_INFO& shown = cells_[static_cast<std::size_t>(y * width + x)];
        shown.Char.AsciiChar = cell.ch;
        shown.Attributes = static_cast<WORD>(cell.colour);
      }
    }
    WriteConsoleOutputA(Output(), cells_.data(), COORD{width, height}, COORD{0, 0}, &area);
  }

  void Repaint() {
    WriteCells(SMALL_RECT{0, 0, kScreenWidth - 1, kScreenHeight - 1});
    model_.TakeChangedRows();
    shown_ = model_.cells();
  }

  void Ring() const {
    // Wine's console swallows the bell character; its Beep rings the terminal wine runs in.
    if (under_wine_) {
      Beep(750, 300);
      return;
    }
    DWORD written = 0;
    WriteConsoleA(Output(), "\a", 1, &written, nullptr);
  }

  // A console command may leave its own output mode and cursor behind.
  void AfterCommand() {
    SetConsoleMode(Output(), kOutputMode);
    cursor_ = COORD{-1, -1};
  }

  // Looks through the waiting console input. When it holds no key press at all, the events are
  // taken out of the queue (they would otherwise keep the input handle signalled); key presses
  // are left for _getch.
  Queued LookAtInput() {
    HANDLE in = Input();
    DWORD count = 0;
    if (!GetNumberOfConsoleInputEvents(in, &count) || count == 0) return Queued::kNothing;
    records_.resize(count);
    if (!PeekConsoleInputA(in, records_.data(), count, &count)) return Queued::kNothing;
    Queued found = Queued::kNothing;
    for (DWORD i = 0; i < count; ++i) {
      const INPUT_RECORD& record = records_[i];
      if (record.EventType != KEY_EVENT || !record.Event.KeyEvent.bKeyDown) continue;
      const KEY_EVENT_RECORD& key = record.Event.KeyEvent;
      if (key.uChar.AsciiChar != 0 || IsTwoCodeKey(key.wVirtualKeyCode)) return Queued::kKey;
      if (!IsModifier(key.wVirtualKeyCode)) found = Queued::kMaybeKey;
    }
    if (found == Queued::kNothing) {
      // The queue only grows at its end, so these are exactly the events just looked at.
      ReadConsoleInputA(in, records_.data(), count, &count);
    }
    return found;
  }

  const bool under_wine_;
  FineTimer fine_timer_;
  // Where the game's cursor is, by the rules every platform shares, and what each cell shows.
  ScreenModel model_;
  ScreenCells shown_{};  // what the console's cells show, as of the last Flush
  std::vector<CHAR_INFO> cells_;
  bool bell_ = false;     // a bell was written since the last Flush
  COORD cursor_{-1, -1};  // where the console's own cursor is; -1 when not known
  std::vector<INPUT_RECORD> records_;
};

}  // namespace

std::unique_ptr<Terminal> OpenSystemTerminal() {
  if (!IsConsole(Output())) {
    std::fputs("Vorlix needs a console window: standard output is not one.\n", stderr);
    return nullptr;
  }
  if (!IsConsole(Input())) {
    std::fputs("Vorlix needs a console window: standard input is not one.\n", stderr);
    return nullptr;
  }
  return std::make_unique<WindowsTerminal>();
}
