// The Windows backend on real Windows calls: the game's files through the file API, and the
// console terminal in a console of its own (tests/windows/in-console.sh gives it one under wine).
// Each console case draws into a fresh 155x42 screen buffer, which it reads back cell by cell.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "console/console.h"
#include "platform/windows/windows_api.h"
#include "support/console_test.h"

namespace {

bool UnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// ---------------------------------------------------------------------------------------------
// Files

using WindowsFiles = ConsoleTest;

HANDLE OpenForReading(const char* path, DWORD share) {
  return CreateFileA(path, GENERIC_READ, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                     nullptr);
}

std::string ReadRest(HANDLE file) {
  char buffer[64];
  DWORD got = 0;
  if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) return "<read failed>";
  return std::string(buffer, got);
}

// A reader of the old file keeps reading the old text. Whether the move may take the name from a
// reader that allows deleting is the system's to say (wine never lets it); either way the file is
// the old one or the new one, whole, and nothing is left beside it.
TEST_F(WindowsFiles, AFileOpenForReadingIsReplacedWholeOrNotAtAll) {
  struct Case {
    const char* name;
    DWORD share;
    bool may_be_replaced;
  } const cases[] = {
      {"shared for deleting", FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, true},
      {"not shared for deleting", FILE_SHARE_READ | FILE_SHARE_WRITE, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WriteFile("score.dat", "old\n");
    HANDLE reader = OpenForReading("score.dat", c.share);
    ASSERT_NE(reader, INVALID_HANDLE_VALUE);
    const bool replaced = ReplaceFile("score.dat", "new\n");
    EXPECT_TRUE(c.may_be_replaced || !replaced);
    EXPECT_EQ(ReadRest(reader), "old\n");
    CloseHandle(reader);
    EXPECT_EQ(ReadFile("score.dat"), replaced ? "new\n" : "old\n");
    EXPECT_EQ(Files(), (std::set<std::string>{"score.dat"})) << "no temporary file is left";
  }
}

TEST_F(WindowsFiles, AReadOnlyFileIsNotReplacedAndNoTemporaryFileIsLeft) {
  for (const char* name : {"score.dat", "save.dat"}) {
    SCOPED_TRACE(name);
    WriteFile(name, "old\n");
    SetFileAttributesA(name, FILE_ATTRIBUTE_READONLY);
    EXPECT_FALSE(ReplaceFile(name, "new\n"));
    EXPECT_EQ(ReadFile(name), "old\n");
    EXPECT_EQ(Files(), (std::set<std::string>{name}));
    SetFileAttributesA(name, FILE_ATTRIBUTE_NORMAL);
    std::filesystem::remove(name);
  }
}

// ---------------------------------------------------------------------------------------------
// The console

// A fresh screen buffer of 155x42 cells as the program's standard output, and the system
// terminal opened on it. The test's own output goes on to the console it started with.
class WindowsConsole : public ::testing::Test {
 protected:
  void SetUp() override {
    input_ = GetStdHandle(STD_INPUT_HANDLE);
    ASSERT_TRUE(IsConsole(input_)) << "no console: run through tests/windows/in-console.sh";
    saved_output_ = GetStdHandle(STD_OUTPUT_HANDLE);
    ASSERT_NO_FATAL_FAILURE(Open());
  }

  void TearDown() override {
    Close();
    if (saved_output_ != nullptr) SetStdHandle(STD_OUTPUT_HANDLE, saved_output_);
  }

  // A console command such as CLS clears the console the program started with, so each case
  // that needs a blank screen starts over with a fresh buffer instead.
  void Open() {
    buffer_ =
        CreateConsoleScreenBuffer(GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, CONSOLE_TEXTMODE_BUFFER, nullptr);
    ASSERT_NE(buffer_, INVALID_HANDLE_VALUE);
    // The window may not be larger than the buffer: it shrinks first and grows to fit after.
    CONSOLE_SCREEN_BUFFER_INFO info{};
    ASSERT_TRUE(GetConsoleScreenBufferInfo(buffer_, &info));
    const auto last = [](SHORT size, int most) {
      return static_cast<SHORT>(std::min<int>(size, most) - 1);
    };
    const SMALL_RECT small{0, 0, last(info.dwSize.X, kScreenWidth),
                           last(info.dwSize.Y, kScreenHeight)};
    const SMALL_RECT whole{0, 0, kScreenWidth - 1, kScreenHeight - 1};
    ASSERT_TRUE(SetConsoleWindowInfo(buffer_, TRUE, &small));
    ASSERT_TRUE(SetConsoleScreenBufferSize(buffer_, COORD{kScreenWidth, kScreenHeight}));
    ASSERT_TRUE(SetConsoleWindowInfo(buffer_, TRUE, &whole));
    SetStdHandle(STD_OUTPUT_HANDLE, buffer_);
    FlushConsoleInputBuffer(input_);
    terminal_ = OpenSystemTerminal();
    ASSERT_NE(terminal_, nullptr);
    AttachTerminal(*terminal_);
  }

  void Close() {
    terminal_.reset();
    if (buffer_ != INVALID_HANDLE_VALUE) CloseHandle(buffer_);
    buffer_ = INVALID_HANDLE_VALUE;
  }

  static bool IsConsole(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
  }

  CHAR_INFO CellAt(int x, int y) const {
    CHAR_INFO cell{};
    SMALL_RECT area{static_cast<SHORT>(x), static_cast<SHORT>(y), static_cast<SHORT>(x),
                    static_cast<SHORT>(y)};
    ReadConsoleOutputA(buffer_, &cell, COORD{1, 1}, COORD{0, 0}, &area);
    return cell;
  }
  std::string TextAt(int x, int y, int length) const {
    std::string text;
    for (int i = 0; i < length; ++i) text += CellAt(x + i, y).Char.AsciiChar;
    return text;
  }

  // Puts key down and key up events in the console's input queue, as the keyboard would.
  void Press(WORD key, WORD scan, char ch, DWORD state) const {
    INPUT_RECORD records[2]{};
    for (int i = 0; i < 2; ++i) {
      records[i].EventType = KEY_EVENT;
      KEY_EVENT_RECORD& event = records[i].Event.KeyEvent;
      event.bKeyDown = i == 0;
      event.wRepeatCount = 1;
      event.wVirtualKeyCode = key;
      event.wVirtualScanCode = scan;
      event.uChar.AsciiChar = ch;
      event.dwControlKeyState = state;
    }
    DWORD written = 0;
    WriteConsoleInputA(input_, records, 2, &written);
  }

  // The CPU time of this process so far, in milliseconds.
  static double CpuMs() {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ticks = [](FILETIME t) {
      return (static_cast<std::uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 10'000.0;
  }

  static double RealMs() {
    LARGE_INTEGER now{}, frequency{};
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
  }

  HANDLE input_ = nullptr;
  HANDLE saved_output_ = nullptr;
  HANDLE buffer_ = INVALID_HANDLE_VALUE;
  std::unique_ptr<Terminal> terminal_;
};

TEST_F(WindowsConsole, KeysArriveAsTheGameReadsThem) {
  struct Case {
    const char* name;
    WORD key;
    WORD scan;
    char ch;
    DWORD state;
    std::vector<int> codes;
  } const cases[] = {
      {"a", 'A', 0x1e, 'a', 0, {'a'}},
      {"shift+z", 'Z', 0x2c, 'Z', SHIFT_PRESSED, {'Z'}},
      {"Esc", VK_ESCAPE, 0x01, 27, 0, {27}},
      {"up", VK_UP, 0x48, 0, ENHANCED_KEY, {224, 72}},
      {"left", VK_LEFT, 0x4b, 0, ENHANCED_KEY, {224, 75}},
      {"right", VK_RIGHT, 0x4d, 0, ENHANCED_KEY, {224, 77}},
      {"down", VK_DOWN, 0x50, 0, ENHANCED_KEY, {224, 80}},
      {"Delete", VK_DELETE, 0x53, 0, ENHANCED_KEY, {224, 83}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_FALSE(terminal_->KeyPending());
    Press(VK_SHIFT, 0x2a, 0, SHIFT_PRESSED);  // a modifier alone gives no code
    EXPECT_FALSE(terminal_->KeyPending());
    Press(c.key, c.scan, c.ch, c.state);
    for (int code : c.codes) {
      ASSERT_TRUE(terminal_->KeyPending());
      EXPECT_EQ(terminal_->ReadKey(), code);
    }
    EXPECT_FALSE(terminal_->KeyPending());
  }
}

TEST_F(WindowsConsole, AFunctionKeyArrivesAsZeroAndItsCode) {
  if (UnderWine()) GTEST_SKIP() << "_getch: wine's msvcrt passes over F1 and every function key";
  Press(VK_F1, 0x3b, 0, 0);
  ASSERT_TRUE(terminal_->KeyPending());
  EXPECT_EQ(terminal_->ReadKey(), 0);
  EXPECT_EQ(terminal_->ReadKey(), 59);
}

TEST_F(WindowsConsole, TextLandsInItsCellsInItsColours) {
  struct Case {
    const char* name;
    std::function<void()> draw;
    int x, y;
    std::string text;
  } const cases[] = {
      {"at the cursor", [] { PutCharAt(3, 2, 'a'); }, 2, 2, " a "},
      {"'\\n' to the next row", [] { GotoXY(3, 4), WriteText("ab\ncd"); }, 0, 5, "cd "},
      {"tab stops every 8", [] { GotoXY(1, 6), WriteText("x\ty"); }, 0, 6, " x      y"},
      {"up to column 154", [] { GotoXY(150, 7), WriteText("abcde"); }, 150, 7, "abcde"},
      {"past 154 to the next row", [] { GotoXY(152, 8), WriteText("wrap"); }, 0, 9, "p "},
      {"row 41 to its last cell", [] { GotoXY(150, 41), WriteText("0123456789"); }, 150, 41,
       "01234"},
      {"nothing scrolled at row 41",
       [] { PutCharAt(0, 0, '^'), GotoXY(150, 41), WriteText("xxxxxxxxxx\nyy"); }, 0, 0, "^ "},
      {"control bytes from files", [] { GotoXY(0, 10), WriteText("a\x1b[1m\r\x7f\x01z"); }, 0, 10,
       "a?[1m???z"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Close();
    ASSERT_NO_FATAL_FAILURE(Open());
    c.draw();
    terminal_->Flush();
    EXPECT_EQ(TextAt(c.x, c.y, static_cast<int>(c.text.size())), c.text);
  }
  Close();
  ASSERT_NO_FATAL_FAILURE(Open());
  const Colour colours[] = {Colour::Green,     Colour::Red,         Colour::Normal,
                            Colour::DarkGrey,  Colour::LightBlue,   Colour::LightGreen,
                            Colour::LightCyan, Colour::LightMagenta};
  for (int i = 0; i < 8; ++i) {
    SetColour(colours[i]);
    PutCharAt(10 + i, 20, '#');
  }
  terminal_->Flush();
  for (int i = 0; i < 8; ++i) {
    EXPECT_EQ(CellAt(10 + i, 20).Attributes & 0xff, static_cast<WORD>(colours[i])) << i;
  }
}

TEST_F(WindowsConsole, WaitsSleepOnTheConsoleAndTheClock) {
  // The process's CPU time can be read at all: a busy loop shows in it, within two seconds however
  // busy the machine is.
  const double cpu_at_start = CpuMs();
  for (const double until = RealMs() + 2000; RealMs() < until && CpuMs() - cpu_at_start <= 50.0;) {
  }
  ASSERT_GT(CpuMs() - cpu_at_start, 50.0);

  // A key wait blocks on the input handle until the key comes.
  std::thread typist([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    Press('Q', 0x10, 'q', 0);
  });
  const double cpu_before_key = CpuMs();
  const TickCount before_key = terminal_->Now();
  EXPECT_EQ(terminal_->ReadKey(), 'q');
  const TickCount waited_for_key = terminal_->Now() - before_key;
  const double cpu_for_key = CpuMs() - cpu_before_key;
  typist.join();
  EXPECT_GE(waited_for_key, 550u);
  EXPECT_LT(cpu_for_key, 60.0) << "the key wait spins";

  // A paced wait sleeps the time asked. The tick count moves in steps of the system timer (about
  // 16 ms), so one SleepUntil may end a step early by its clock; WaitPaced sleeps again for the
  // rest and ends once the clock has passed the mark. A wait may end late by a timer step and
  // a loaded machine's scheduling, never by a second wait.
  constexpr double kLateMs = 45.0;
  for (unsigned ms : {50u, 300u}) {
    SCOPED_TRACE(ms);
    const double cpu_before = CpuMs();
    const double start = RealMs();
    terminal_->SleepUntil(terminal_->Now() + ms);
    const double slept = RealMs() - start;
    EXPECT_GE(slept, ms - 17.0);
    EXPECT_LE(slept, ms + kLateMs);
    AttachTerminal(*terminal_);  // the first paced wait of all waits the full time
    const TickCount paced_from = terminal_->Now();
    WaitPaced(ms);
    EXPECT_GE(terminal_->Now() - paced_from, ms);
    EXPECT_LE(RealMs() - start - slept, ms + kLateMs);
    EXPECT_LT(CpuMs() - cpu_before, 20.0) << "a paced wait spins";
  }
}

TEST_F(WindowsConsole, StartUpStepsHideTheCursorAndSetTheFont) {
  terminal_->HideCursor();
  CONSOLE_CURSOR_INFO cursor{};
  ASSERT_TRUE(GetConsoleCursorInfo(buffer_, &cursor));
  EXPECT_FALSE(cursor.bVisible);
  terminal_.reset();
  ASSERT_TRUE(GetConsoleCursorInfo(buffer_, &cursor));
  EXPECT_TRUE(cursor.bVisible) << "the cursor is given back at the end";
  if (UnderWine()) {
    GTEST_SKIP() << "SetCurrentConsoleFontEx: wine's console does not survive a font change";
  }
  terminal_ = OpenSystemTerminal();
  terminal_->SetFont();
  CONSOLE_FONT_INFOEX font{};
  font.cbSize = sizeof font;
  ASSERT_TRUE(GetCurrentConsoleFontEx(buffer_, FALSE, &font));
  EXPECT_EQ(std::wstring(font.FaceName), L"Fixedsys");
}

// Registered before the game's handler, so called after it: it keeps the process alive.
HANDLE ending_passed_on = CreateEventA(nullptr, FALSE, FALSE, nullptr);
BOOL WINAPI KeepAlive(DWORD) {
  SetEvent(ending_passed_on);
  return TRUE;
}

// Ctrl+C and Ctrl+Break give the console back as the game found it, then go on to end the process.
TEST_F(WindowsConsole, CtrlCAndCtrlBreakGiveTheConsoleBack) {
  const UINT code_page = GetConsoleOutputCP();
  ASSERT_TRUE(SetConsoleCtrlHandler(KeepAlive, TRUE));
  DWORD not_generated = 0;  // why the event could not be generated
  for (DWORD event : {CTRL_C_EVENT, CTRL_BREAK_EVENT}) {
    SCOPED_TRACE(event);
    terminal_.reset();
    SetConsoleOutputCP(850);
    DWORD mode = 0;
    GetConsoleMode(buffer_, &mode);
    terminal_ = OpenSystemTerminal();
    terminal_->HideCursor();
    if (!GenerateConsoleCtrlEvent(event, 0)) {
      not_generated = GetLastError();
      break;
    }
    ASSERT_EQ(WaitForSingleObject(ending_passed_on, 5000), WAIT_OBJECT_0) << "not passed on";
    CONSOLE_CURSOR_INFO cursor{};
    DWORD mode_after = 0;
    EXPECT_TRUE(GetConsoleCursorInfo(buffer_, &cursor) && cursor.bVisible);
    EXPECT_EQ(GetConsoleOutputCP(), 850u);
    EXPECT_TRUE(GetConsoleMode(buffer_, &mode_after) && mode_after == mode) << mode_after;
  }
  terminal_.reset();
  SetConsoleCtrlHandler(KeepAlive, FALSE);
  SetConsoleOutputCP(code_page);
  if (not_generated != 0 && UnderWine()) {
    GTEST_SKIP() << "GenerateConsoleCtrlEvent: wine's console in a terminal takes no control event "
                    "from a program; tests/windows/smoke.sh types Ctrl+C instead";
  }
  EXPECT_EQ(not_generated, 0u);
}

}  // namespace
