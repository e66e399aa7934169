// The Windows console: the terminal the game was first made for. Drawing goes through the console
// API in batches, keys come from the C runtime's _kbhit/_getch, and the clock is GetTickCount.
//
// The console's own cursor rules are never relied on for where text lands: a ScreenModel follows
// every write by the same rules as on every other platform, so text past the last row is dropped
// rather than scrolled, and the console is only ever asked to write runs of cells that fit on one
// row.

#include <conio.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "console/console.h"
#include "console/protocol/screen_model.h"
#include "console/windows/windows_api.h"

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
    SetColour(Colour::Normal);
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

  void MoveCursor(int x, int y) override {
    if (x < 0 || x >= kScreenWidth || y < 0 || y >= kScreenHeight) return;
    if (!ContinuesRun(x, y)) WriteRun();
    // The console's own cursor follows when text is written there, or at the next Flush.
    model_.MoveCursor(x, y);
  }

  void WriteChar(char ch) override {
    if (ch == '\a') {
      bell_ = true;  // rung once, when the frame is shown
      return;
    }
    const int before = Linear(model_.cursor_x(), model_.cursor_y());
    model_.Write(ch);
    if (ch == '\n') return;
    // Every cell the model's cursor passed over now shows the character (a tab fills spaces).
    const char shown = ch == '\t' ? ' ' : VisibleByte(ch);
    const int after = Linear(model_.cursor_x(), model_.cursor_y());
    for (int cell = before; cell < after; ++cell) {
      AddToRun(cell % kScreenWidth, cell / kScreenWidth, shown);
    }
  }

  void SetColour(Colour colour) override {
    if (colour_ == colour) return;
    WriteRun();
    SetConsoleTextAttribute(Output(), static_cast<WORD>(colour));
    colour_ = colour;
    model_.SetColour(colour);
  }

  void Clear() override {
    WriteRun();
    std::system("CLS");
    AfterCommand();
    model_.Clear();
  }

  void Flush() override {
    WriteRun();
    if (bell_) Ring();
    bell_ = false;
    const int x = model_.cursor_x();
    const int y = model_.cursor_y();
    if (y < kScreenHeight && (x != console_x_ || y != console_y_)) PlaceConsoleCursor(x, y);
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

  void FitScreen() override {
    WriteRun();
    std::system("MODE CON LINES=42 COLS=155");
    AfterCommand();
    // Resizing may lose what the screen showed, and a console without the command prints a
    // complaint instead: either way the screen is put back as the game drew it.
    Repaint();
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
    const TickCount left = deadline - Now();
    if (left == 0 || left >= 0x8000'0000u) return;  // reached, or passed a while ago
    Sleep(left);
  }

 private:
  static int Linear(int x, int y) { return y * kScreenWidth + x; }

  bool ContinuesRun(int x, int y) const {
    return !run_.empty() && y == run_y_ && x == run_x_ + static_cast<int>(run_.size());
  }

  void AddToRun(int x, int y, char ch) {
    if (!run_.empty() && !ContinuesRun(x, y)) WriteRun();
    if (run_.empty()) {
      run_x_ = x;
      run_y_ = y;
    }
    run_.push_back(ch);
  }

  // Puts the gathered run on the screen with one write.
  void WriteRun() {
    if (run_.empty()) return;
    HANDLE out = Output();
    std::string_view text = run_;
    const bool reaches_last_cell =
        run_y_ == kScreenHeight - 1 && run_x_ + static_cast<int>(run_.size()) == kScreenWidth;
    if (reaches_last_cell) text.remove_suffix(1);
    if (!text.empty()) {
      if (console_x_ != run_x_ || console_y_ != run_y_) PlaceConsoleCursor(run_x_, run_y_);
      WriteText(out, text);
      const int end = run_x_ + static_cast<int>(text.size());
      console_x_ = end < kScreenWidth ? end : -1;  // a full row leaves the cursor unknown
    }
    if (reaches_last_cell) {
      // Written in place: a console cursor stepping past the bottom-right corner would scroll.
      const COORD corner{kScreenWidth - 1, kScreenHeight - 1};
      const WORD attribute = static_cast<WORD>(colour_.value_or(Colour::Normal));
      DWORD done = 0;
      WriteConsoleOutputCharacterA(out, &run_.back(), 1, corner, &done);
      WriteConsoleOutputAttribute(out, &attribute, 1, corner, &done);
    }
    run_.clear();
  }

  static void WriteText(HANDLE out, std::string_view text) {
    while (!text.empty()) {
      DWORD written = 0;
      if (!WriteConsoleA(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr) ||
          written == 0) {
        return;
      }
      text.remove_prefix(written);
    }
  }

  void PlaceConsoleCursor(int x, int y) {
    SetConsoleCursorPosition(Output(), COORD{static_cast<SHORT>(x), static_cast<SHORT>(y)});
    console_x_ = x;
    console_y_ = y;
  }

  // Writes every cell of the screen from the model in one go, which moves no cursor.
  void Repaint() {
    std::vector<CHAR_INFO> cells(kScreenWidth * kScreenHeight);
    for (int y = 0; y < kScreenHeight; ++y) {
      for (int x = 0; x < kScreenWidth; ++x) {
        const Cell& cell = model_.At(x, y);
        CHAR_INFO& shown = cells[Linear(x, y)];
        shown.Char.AsciiChar = cell.ch;
        shown.Attributes = static_cast<WORD>(cell.colour);
      }
    }
    SMALL_RECT area{0, 0, kScreenWidth - 1, kScreenHeight - 1};
    WriteConsoleOutputA(Output(), cells.data(), COORD{kScreenWidth, kScreenHeight}, COORD{0, 0},
                        &area);
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
    console_x_ = -1;
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
  std::optional<Colour> colour_;
  bool bell_ = false;  // a bell was written since the last Flush
  std::string run_;    // cells gathered for one write, from (run_x_, run_y_) along one row
  int run_x_ = 0;
  int run_y_ = 0;
  int console_x_ = -1;  // where the console's own cursor is; -1 when not known
  int console_y_ = -1;
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
