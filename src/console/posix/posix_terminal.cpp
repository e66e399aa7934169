// The terminal on Linux and macOS. It puts the terminal into raw mode on the alternate screen,
// draws through a FrameEncoder, reads keys through a KeyDecoder, and gives the terminal back as it
// found it however the program ends: normally, by Ctrl+C and its kin, by a crash, or when the
// terminal itself goes away. Ctrl+Z suspends the game with the terminal restored and brings both
// back on resume. Every wait blocks in the kernel (posix_waits.h); nothing spins.

#include <langinfo.h>
#include <locale.h>
#include <signal.h>
#include <strings.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <xlocale.h>  // newlocale and nl_langinfo_l
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/posix/posix_modes.h"
#include "console/posix/posix_signals.h"
#include "console/posix/posix_waits.h"
#include "console/protocol/frame_encoder.h"
#include "console/protocol/key_decoder.h"
#include "console/protocol/screen_model.h"

namespace {

using namespace posix;

constexpr int kEscCode = 27;
// How many decoded keys a paced wait lets pile up before it leaves the rest unread, so that a flood
// of input waits in the terminal rather than in the game's memory.
constexpr std::size_t kMostKeysHeld = 256;
// How long the terminal gets to answer a request to grow before its size is checked again.
constexpr TickCount kResizeGraceMs = 100;

constexpr std::int64_t kNanosecondsPerMillisecond = 1'000'000;

// A timeout for Await, in nanoseconds: `wait`, or none at all (-1).
std::int64_t Timeout(std::optional<std::chrono::milliseconds> wait) {
  return wait ? std::chrono::nanoseconds(*wait).count() : -1;
}

std::int64_t MonotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// The modes of the one open terminal, for a program that ends through exit() while it is open.
TerminalModes* open_modes = nullptr;

void LeaveModesAtExit() {
  if (open_modes != nullptr) open_modes->Leave();
}

struct WindowSize {
  int columns = 0;
  int rows = 0;
};

// The terminal's size, or nothing when it does not tell.
std::optional<WindowSize> MeasureWindow() {
  winsize size{};
  if (::ioctl(kOutput, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    return std::nullopt;
  }
  return WindowSize{size.ws_col, size.ws_row};
}

bool Fits(const std::optional<WindowSize>& size) {
  return !size || (size->columns >= kScreenWidth && size->rows >= kScreenHeight);
}

// In a larger terminal the game's screen stands in the middle, the rest black around it.
FrameEncoder::Position CentreIn(const std::optional<WindowSize>& size) {
  if (!size) return {};
  return {std::max(size->columns - kScreenWidth, 0) / 2,
          std::max(size->rows - kScreenHeight, 0) / 2};
}

bool NamesUtf8(const char* name) {
  if (name == nullptr) return false;
  const std::string_view text(name);
  for (std::string_view form : {"UTF-8", "utf-8", "UTF8", "utf8"}) {
    if (text.find(form) != std::string_view::npos) return true;
  }
  return false;
}

// Whether the user's locale takes UTF-8, and with it the terminal. A terminal of another character
// set reads some bytes from 128 up as controls, so it is sent none. The game's own locale stays
// "C", in which toupper changes only a..z.
Glyphs GlyphsOfTheLocale() {
  // The locale's name, as the C library picks it: the first of these that is set and not empty.
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    name = std::getenv(variable);
    if (name != nullptr && *name != '\0') break;
  }
  // A name that says UTF-8 is enough, whether or not that locale is installed; only another name
  // needs the locale itself looked up.
  if (name != nullptr && NamesUtf8(name)) return Glyphs::kUtf8;
  if (const locale_t user = ::newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(0))) {
    const bool utf8 = ::strcasecmp(::nl_langinfo_l(CODESET, user), "UTF-8") == 0;
    ::freelocale(user);
    return utf8 ? Glyphs::kUtf8 : Glyphs::kAscii;
  }
  return Glyphs::kAscii;
}

// ---- The terminal -------------------------------------------------------------------------------

class PosixTerminal final : public Terminal {
 public:
  PosixTerminal() : encoder_(GlyphsOfTheLocale()) {
    if (!signals_.ready()) return;
    modes_.Add(Mode::Raw);
    modes_.Add(Mode::AlternateScreen);
    modes_.Add(Mode::Colours);
    open_modes = &modes_;
    static const bool registered = std::atexit(LeaveModesAtExit) == 0;
    ready_ = registered && modes_.InForce(Mode::Raw);
  }
  ~PosixTerminal() override { Shutdown(); }
  PosixTerminal(const PosixTerminal&) = delete;
  PosixTerminal& operator=(const PosixTerminal&) = delete;

  bool ready() const { return ready_; }

  void MoveCursor(int x, int y) override { desired_.MoveCursor(x, y); }
  void WriteChar(char ch) override {
    if (desired_.Write(ch)) bell_ = true;
    dirty_ = true;
    drawn_ = true;
  }
  void SetColour(Colour colour) override { desired_.SetColour(colour); }
  void Clear() override {
    desired_.Clear();
    dirty_ = true;
    drawn_ = false;
  }
  void Flush() override;
  bool CursorOnScreen() const override { return desired_.cursor_y() < kScreenHeight; }

  // A terminal has no portable way to pick a font; the user's own font is kept.
  void SetFont() override {}
  void HideCursor() override { modes_.Add(Mode::HiddenCursor); }
  void FitScreen() override;

  bool KeyPending() override;
  int ReadKey() override;

  TickCount Now() override { return static_cast<TickCount>(MonotonicNanoseconds() / 1'000'000); }
  void SleepUntil(TickCount deadline) override;

 private:
  void AttendToSignals();
  // Acts on Ctrl+C and its kin, Ctrl+Z and a resume; true after a resume.
  bool AttendToLifecycle();
  void Suspend();
  // Before the game has shown anything, Esc quits here; later no key counts, so that a game in
  // play cannot be lost by a key meant for it.
  enum class Hold { kAtStartUp, kDuringPlay };
  void HoldWhileTooSmall(Hold hold);
  void ShowTooSmall(const WindowSize& size, Hold hold);
  // Waits out the rest of the time a lone ESC byte is given to become a sequence.
  void SettleLoneEsc();
  // Draws the whole screen anew, where the terminal's size puts it.
  void Repaint();
  void PlaceForRepaint();
  void Send();
  // Feeds the decoder every byte that has arrived; false when more may still be waiting.
  bool ReadArrivedInput();
  void Write(std::string_view bytes);
  void Shutdown();
  [[noreturn]] void EndBySignal(int signal_number);
  [[noreturn]] void EndAfterHangUp();
  [[noreturn]] void EndByUser();

  SignalRouting signals_;
  TerminalModes modes_;
  ScreenModel desired_;
  FrameEncoder encoder_;
  KeyDecoder decoder_;
  bool bell_ = false;
  bool dirty_ = true;
  // Something was written since the screen was last cleared.
  bool drawn_ = false;
  bool ready_ = false;
};

// A screen that is yet to be drawn whole and holds nothing waits for its first text, which then
// goes out with the clear in one write.
void PosixTerminal::Flush() {
  if (!dirty_ || (!drawn_ && !encoder_.ScreenKnown())) return;
  Send();
}

void PosixTerminal::Send() {
  const std::string bytes = encoder_.Encode(desired_, desired_.TakeChangedRows(), bell_);
  dirty_ = false;
  bell_ = false;
  Write(bytes);
}

void PosixTerminal::Repaint() {
  PlaceForRepaint();
  Send();
}

void PosixTerminal::PlaceForRepaint() {
  encoder_.PlaceAt(CentreIn(MeasureWindow()));
  encoder_.ForgetScreen();
  dirty_ = true;
}

// A terminal that has stopped reading holds the write, but an ending signal still ends the game.
void PosixTerminal::Write(std::string_view bytes) {
  if (WriteAll(bytes, -1)) return;
  if (ending_signal != 0) EndBySignal(ending_signal);
  EndAfterHangUp();
}

void PosixTerminal::FitScreen() {
  const std::optional<WindowSize> size = MeasureWindow();
  if (!Fits(size)) {
    // Ask the window to grow; many terminals do, and then say so with SIGWINCH.
    Write("\x1b[8;" + std::to_string(std::max(size->rows, kScreenHeight)) + ";" +
          std::to_string(std::max(size->columns, kScreenWidth)) + "t");
    const TickCount asked_at = Now();
    for (TickCount waited = 0; resized == 0 && waited < kResizeGraceMs; waited = Now() - asked_at) {
      if (Await(false, Timeout(std::chrono::milliseconds(kResizeGraceMs - waited))).hung_up)
        EndAfterHangUp();
      AttendToLifecycle();
    }
  }
  resized = 0;
  HoldWhileTooSmall(Hold::kAtStartUp);
  // The menu comes next: the repaint goes out with it.
  PlaceForRepaint();
}

void PosixTerminal::AttendToSignals() {
  bool check_size = AttendToLifecycle();
  if (resized != 0) {
    resized = 0;
    check_size = true;
  }
  if (!check_size) return;
  HoldWhileTooSmall(Hold::kDuringPlay);
  Repaint();
}

bool PosixTerminal::AttendToLifecycle() {
  if (ending_signal != 0) EndBySignal(ending_signal);
  bool resumed = false;
  if (suspend_requested != 0) {
    suspend_requested = 0;
    Suspend();
    resumed = true;
  }
  if (continued != 0) {  // stopped by someone else, and the shell may have reset the terminal
    continued = 0;
    modes_.Reassert();
    resumed = true;
  }
  return resumed;
}

void PosixTerminal::Suspend() {
  modes_.Leave();
  struct sigaction ours {};
  struct sigaction stop {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  ::sigaction(SIGTSTP, &stop, &ours);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, SIGTSTP);
  ::sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  ::raise(SIGTSTP);  // stops here until the shell continues the game
  ::sigaction(SIGTSTP, &ours, nullptr);
  modes_.Enter();
  continued = 0;
}

void PosixTerminal::HoldWhileTooSmall(Hold hold) {
  std::optional<WindowSize> size = MeasureWindow();
  if (Fits(size)) return;
  ShowTooSmall(*size, hold);
  for (;;) {
    if (Await(true, Timeout(decoder_.TimeUntilTimeout(Now()))).hung_up) EndAfterHangUp();
    if (AttendToLifecycle()) resized = 1;  // back from a suspension: the message is gone
    if (resized != 0) {
      resized = 0;
      size = MeasureWindow();
      if (Fits(size)) return;
      ShowTooSmall(*size, hold);
    }
    // No key is for the game while it is held; at start-up Esc ends it.
    if (ReadArrivedInput()) decoder_.Tick(Now());
    while (decoder_.HasKey()) {
      if (decoder_.PopKey() == kEscCode && hold == Hold::kAtStartUp) EndByUser();
    }
  }
}

// Written straight to the terminal: the game's screen does not fit, so it cannot carry this.
void PosixTerminal::ShowTooSmall(const WindowSize& size, Hold hold) {
  const char* way_out =
      hold == Hold::kAtStartUp
          ? "Please enlarge the window, or press Esc to quit."
          : "Please enlarge the window to go on, or press Ctrl+C to quit at once.";
  char message[256];
  std::snprintf(message, sizeof message,
                "\x1b[0;37;40m\x1b[2J\x1b[H%s needs a terminal of at least %d x %d characters; "
                "this one is %d x %d.\r\n%s",
                game_title, kScreenWidth, kScreenHeight, size.columns, size.rows, way_out);
  Write(message);
  encoder_.ForgetScreen();
}

bool PosixTerminal::ReadArrivedInput() {
  // A bounded number of reads, so that a flood of input cannot hold the game here.
  for (int round = 0; round < 8; ++round) {
    const Readiness readiness = Await(true, 0);
    if (readiness.hung_up) EndAfterHangUp();
    if (!readiness.input) return true;
    unsigned char bytes[512];
    const ssize_t count = ::read(kInput, bytes, sizeof bytes);
    if (count == 0) EndAfterHangUp();
    if (count < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      EndAfterHangUp();
    }
    const TickCount now = Now();
    for (ssize_t i = 0; i < count; ++i) decoder_.Feed(bytes[i], now);
  }
  return false;
}

bool PosixTerminal::KeyPending() {
  AttendToSignals();
  if (!decoder_.HasKey() && ReadArrivedInput()) decoder_.Tick(Now());
  if (!decoder_.HasKey() && decoder_.HoldsLoneEsc()) SettleLoneEsc();
  return decoder_.HasKey();
}

// A lone ESC byte is a key pending: either the Esc key or the start of another key's sequence.
// Terminals send a whole sequence at once, so this wait of at most the sequence timeout only
// ever follows a real press of Esc, and the poll then answers with the Esc key.
void PosixTerminal::SettleLoneEsc() {
  while (!decoder_.HasKey() && decoder_.HoldsLoneEsc()) {
    if (Await(true, Timeout(decoder_.TimeUntilTimeout(Now()))).hung_up) EndAfterHangUp();
    AttendToSignals();
    if (ReadArrivedInput()) decoder_.Tick(Now());
  }
}

int PosixTerminal::ReadKey() {
  Flush();
  while (!KeyPending()) {
    // Without a half-read sequence there is no time limit: only a key or a signal wakes us.
    if (Await(true, Timeout(decoder_.TimeUntilTimeout(Now()))).hung_up) EndAfterHangUp();
  }
  return decoder_.PopKey();
}

void PosixTerminal::SleepUntil(TickCount deadline) {
  for (;;) {
    AttendToSignals();
    const std::int64_t now = MonotonicNanoseconds();
    const std::int64_t now_ms = now / kNanosecondsPerMillisecond;
    const TickCount ahead = deadline - static_cast<TickCount>(now_ms);
    if (ahead == 0 || ahead >= 0x8000'0000u) return;  // reached, or passed long ago
    // The deadline is the moment the millisecond count turns to `deadline`: one sleep to the
    // nanosecond keeps a run of paced waits to their length with one wake-up each. A key that
    // comes meanwhile is read at once, so that the decoder knows when each byte arrived (Esc and
    // a key pressed after it are two keys, Alt and a key one), and the sleep goes on to the same
    // deadline; the game sees the keys when it next looks, as before.
    const std::int64_t rest = (now_ms + ahead) * kNanosecondsPerMillisecond - now;
    const Readiness readiness = Await(decoder_.KeysWaiting() < kMostKeysHeld, rest);
    if (readiness.hung_up) EndAfterHangUp();
    if (readiness.input) ReadArrivedInput();
  }
}

void PosixTerminal::Shutdown() {
  modes_.Leave();
  if (open_modes == &modes_) open_modes = nullptr;
  signals_.Restore();
}

void PosixTerminal::EndBySignal(int signal_number) {
  Shutdown();
  std::signal(signal_number, SIG_DFL);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  ::sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  ::raise(signal_number);  // ends the program, so that its exit status tells the signal
  ::_exit(128 + signal_number);
}

void PosixTerminal::EndAfterHangUp() {
  Shutdown();
  ::_exit(1);
}

void PosixTerminal::EndByUser() {
  Shutdown();
  std::exit(0);
}

}  // namespace

std::unique_ptr<Terminal> OpenSystemTerminal() {
  if (::isatty(kInput) == 0 || ::isatty(kOutput) == 0) {
    std::fprintf(stderr, "%s needs an interactive terminal.\n", game_title);
    return nullptr;
  }
  auto terminal = std::make_unique<PosixTerminal>();
  if (!terminal->ready()) {
    terminal.reset();
    std::fprintf(stderr, "%s could not set up the terminal.\n", game_title);
    return nullptr;
  }
  return terminal;
}
