// The terminal on Linux and macOS. It puts the terminal into raw mode on the alternate screen,
// draws through a FrameEncoder, reads keys through a KeyDecoder, and gives the terminal back as it
// found it however the program ends: normally, by Ctrl+C and its kin, by a crash, or when the
// terminal itself goes away. Ctrl+Z suspends the game with the terminal restored and brings both
// back on resume. Every wait blocks in the kernel (posix_waits.h); nothing spins.

#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/posix/posix_locale.h"
#include "platform/posix/posix_modes.h"
#include "platform/posix/posix_output.h"
#include "platform/posix/posix_signals.h"
#include "platform/posix/posix_waits.h"
#include "platform/posix/posix_window.h"
#include "platform/screen_model.h"
#include "platform/terminal.h"
#include "platform/vt/frame_encoder.h"
#include "platform/vt/key_decoder.h"

namespace {

using namespace posix;

// How many decoded keys a paced wait lets pile up before it leaves the rest unread, so that a flood
// of input waits in the terminal rather than in the game's memory.
constexpr std::size_t kMostKeysHeld = 256;
// How long the terminal gets to answer a request to grow before its size is checked again.
constexpr TickCount kResizeGraceMs = 100;

constexpr std::int64_t kNanosecondsPerMillisecond = 1'000'000;

// Who a stop is for: the game, or its whole process group, as the system stops a background job
// that touches its terminal, so that the shell sees the job stopped.
enum class Stop { kTheGame, kTheJob };

// Stops the game by the default action of `signal_number`, whatever the game does with that signal
// otherwise, until something continues it.
void StopBy(int signal_number, Stop whom) {
  struct sigaction ours {};
  struct sigaction stop {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  ::sigaction(signal_number, &stop, &ours);
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  ::sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
  if (whom == Stop::kTheJob) {
    ::kill(0, signal_number);
  } else {
    ::raise(signal_number);
  }
  ::sigaction(signal_number, &ours, nullptr);
}

std::int64_t MonotonicNanoseconds() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

// ---- The terminal -------------------------------------------------------------------------------

class PosixTerminal final : public Terminal {
 public:
  PosixTerminal() : encoder_(GlyphsOfTheLocale()) {
    if (!signals_.ready()) return;
    AwaitTheForeground();  // started in the background
    modes_.Add(Mode::Raw);
    modes_.Add(Mode::AlternateScreen);
    modes_.Add(Mode::Colours);
    ready_ = modes_.InForce(Mode::Raw);
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
  ScreenFit FitScreen() override;

  bool KeyPending() override;
  int ReadKey() override;

  TickCount Now() override { return static_cast<TickCount>(MonotonicNanoseconds() / 1'000'000); }
  void SleepUntil(TickCount deadline) override;

 private:
  void AttendToSignals();
  // Acts on Ctrl+C and its kin, Ctrl+Z and a resume; true after a resume.
  bool AttendToLifecycle();
  void Suspend();
  // Returns once the game is in the foreground; ends it first if an ending signal has come.
  void AwaitTheForeground();
  // Holds the game while the window is too small; at start-up Esc lets the player quit instead.
  ScreenFit HoldWhileTooSmall(Hold hold);
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
  // Waits until the terminal takes bytes or an ending signal comes, reading keys meanwhile.
  void WaitForOutput();
  void Shutdown();
  [[noreturn]] void EndBySignal(int signal_number);
  [[noreturn]] void EndAfterHangUp();

  SignalRouting signals_;
  TerminalModes modes_;
  TerminalOutput output_;
  ScreenModel desired_;
  FrameEncoder encoder_;
  KeyDecoder decoder_;
  bool bell_ = false;
  bool dirty_ = true;
  // Something was written since the screen was last cleared.
  bool drawn_ = false;
  // The paced wait that has just ended saw no key byte waiting at its end.
  bool no_input_waiting_ = false;
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

// A terminal that has stopped reading holds the write; keys go on being read meanwhile, each as it
// comes, and an ending signal still ends the game. A write that may block waits first.
void PosixTerminal::Write(std::string_view bytes) {
  bool wait_first = output_.Blocks();
  bool waited = false;
  while (!bytes.empty()) {
    if (wait_first) {
      WaitForOutput();
      waited = true;
    }
    if (ending_signal != 0) EndBySignal(ending_signal);
    const ssize_t written = ::write(output_.fd(), bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
      wait_first = output_.Blocks();
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      wait_first = true;
    } else if (written == 0 || errno != EINTR) {
      if (ending_signal != 0) EndBySignal(ending_signal);
      EndAfterHangUp();
    }
  }
  if (waited) WakeUpForPendingNotes();  // the waits took the wake-ups of notes still to act on
}

void PosixTerminal::WaitForOutput() {
  for (;;) {
    const Watch watch = decoder_.KeysWaiting() < kMostKeysHeld ? Watch::kKeys : Watch::kWakeUpsOnly;
    const Readiness readiness = AwaitOutput(output_.fd(), watch);
    if (readiness.hung_up) EndAfterHangUp();
    if (readiness.input) ReadArrivedInput();
    if (readiness.output || ending_signal != 0) return;
  }
}

ScreenFit PosixTerminal::FitScreen() {
  const std::optional<WindowSize> size = MeasureWindow();
  if (!Fits(size)) {
    Write(GrowRequest(*size));
    const TickCount asked_at = Now();
    for (TickCount waited = 0; resized == 0 && waited < kResizeGraceMs; waited = Now() - asked_at) {
      const std::chrono::milliseconds rest(kResizeGraceMs - waited);
      if (Await(Watch::kWakeUpsOnly, rest).hung_up) EndAfterHangUp();
      AttendToLifecycle();
    }
  }
  resized = 0;
  if (HoldWhileTooSmall(Hold::kAtStartUp) == ScreenFit::kPlayerQuit) return ScreenFit::kPlayerQuit;
  // The menu comes next: the repaint goes out with it.
  PlaceForRepaint();
  return ScreenFit::kReady;
}

void PosixTerminal::AttendToSignals() {
  bool check_size = AttendToLifecycle();
  if (resized != 0) {
    resized = 0;
    check_size = true;
  }
  if (!check_size) return;
  (void)HoldWhileTooSmall(Hold::kDuringPlay);  // in play, no key ends the hold
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
    AwaitTheForeground();
    continued = 0;
    modes_.Reassert();
    resumed = true;
  }
  return resumed;
}

void PosixTerminal::Suspend() {
  modes_.Leave();
  StopBy(SIGTSTP, Stop::kTheGame);  // until the shell continues the game
  AwaitTheForeground();
  modes_.Enter();
  continued = 0;
}

// A stopped job is continued to be ended, too: bash's `kill %1` sends SIGTERM and then SIGCONT. The
// game then ends without touching the terminal. Continued in the background (`bg`), it stops again
// as a job that wants its terminal does, until `fg` brings it to the foreground.
void PosixTerminal::AwaitTheForeground() {
  for (;;) {
    if (ending_signal != 0) EndBySignal(ending_signal);
    if (!InTheBackground()) return;
    continued = 0;
    StopBy(SIGTTOU, Stop::kTheJob);
    // The system drops the stop of a group that no shell is left to continue: the terminal can
    // never be the game's again.
    if (continued == 0) EndAfterHangUp();
  }
}

ScreenFit PosixTerminal::HoldWhileTooSmall(Hold hold) {
  std::optional<WindowSize> size = MeasureWindow();
  if (Fits(size)) return ScreenFit::kReady;
  ShowTooSmall(*size, hold);
  for (;;) {
    if (Await(Watch::kKeys, decoder_.TimeUntilTimeout(Now())).hung_up) EndAfterHangUp();
    if (AttendToLifecycle()) resized = 1;  // back from a suspension: the message is gone
    if (resized != 0) {
      resized = 0;
      size = MeasureWindow();
      if (Fits(size)) return ScreenFit::kReady;
      ShowTooSmall(*size, hold);
    }
    // No key is for the game while it is held; at start-up Esc lets the player quit.
    if (ReadArrivedInput()) decoder_.Tick(Now());
    while (decoder_.HasKey()) {
      if (decoder_.PopKey() == kEscKey && hold == Hold::kAtStartUp) return ScreenFit::kPlayerQuit;
    }
  }
}

void PosixTerminal::ShowTooSmall(const WindowSize& size, Hold hold) {
  Write(TooSmallMessage(size, hold));
  encoder_.ForgetScreen();
}

bool PosixTerminal::ReadArrivedInput() {
  // A bounded number of reads, so that a flood of input cannot hold the game here.
  for (int round = 0; round < 8; ++round) {
    const Readiness readiness = Await(Watch::kKeys, std::chrono::nanoseconds::zero());
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

// Right after a paced wait that saw nothing come, no read is needed: a key that comes in between is
// read by the next wait, which then ends at once.
bool PosixTerminal::KeyPending() {
  AttendToSignals();
  const bool none_waiting = std::exchange(no_input_waiting_, false);
  if (!decoder_.HasKey() && !none_waiting && ReadArrivedInput()) decoder_.Tick(Now());
  if (!decoder_.HasKey() && decoder_.HoldsLoneEsc()) SettleLoneEsc();
  return decoder_.HasKey();
}

// A lone ESC byte is a key pending: either the Esc key or the start of another key's sequence.
// Terminals send a whole sequence at once, so this wait of at most the sequence timeout only
// ever follows a real press of Esc, and the poll then answers with the Esc key.
void PosixTerminal::SettleLoneEsc() {
  while (!decoder_.HasKey() && decoder_.HoldsLoneEsc()) {
    if (Await(Watch::kKeys, decoder_.TimeUntilTimeout(Now())).hung_up) EndAfterHangUp();
    AttendToSignals();
    if (ReadArrivedInput()) decoder_.Tick(Now());
  }
}

int PosixTerminal::ReadKey() {
  Flush();
  while (!KeyPending()) {
    // Without a half-read sequence there is no time limit: only a key or a signal wakes us.
    if (Await(Watch::kKeys, decoder_.TimeUntilTimeout(Now())).hung_up) EndAfterHangUp();
  }
  return decoder_.PopKey();
}

void PosixTerminal::SleepUntil(TickCount deadline) {
  no_input_waiting_ = false;
  for (;;) {
    AttendToSignals();
    const std::int64_t now = MonotonicNanoseconds();
    const std::int64_t now_ms = now / kNanosecondsPerMillisecond;
    const TickCount ahead = TimeUntil(deadline, static_cast<TickCount>(now_ms));
    if (ahead == 0) return;
    // The deadline is the moment the millisecond count turns to `deadline`: one sleep to the
    // nanosecond keeps a run of paced waits to their length with one wake-up each. A key that
    // comes meanwhile is read at once, so that the decoder knows when each byte arrived (Esc and
    // a key pressed after it are two keys, Alt and a key one), and the sleep goes on to the same
    // deadline; the game sees the keys when it next looks, as before.
    const std::chrono::nanoseconds rest((now_ms + ahead) * kNanosecondsPerMillisecond - now);
    const Watch watch = decoder_.KeysWaiting() < kMostKeysHeld ? Watch::kKeys : Watch::kWakeUpsOnly;
    const Readiness readiness = Await(watch, rest);
    if (readiness.hung_up) EndAfterHangUp();
    if (readiness.input) ReadArrivedInput();
    no_input_waiting_ = watch == Watch::kKeys && !readiness.input;
  }
}

// In the background the terminal is the shell's, which has put its own settings back.
void PosixTerminal::Shutdown() {
  if (InTheBackground()) {
    modes_.Forget();
  } else {
    modes_.Leave();
  }
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
