// The terminal on Linux and macOS. It puts the terminal into raw mode on the alternate screen,
// draws and reads keys as every VT terminal does (vt_terminal.h), and gives the terminal back as it
// found it however the program ends: normally, by Ctrl+C and its kin, by a crash, or when the
// terminal itself goes away. Ctrl+Z suspends the game with the terminal restored and brings both
// back on resume. Every wait blocks in the kernel (posix_io.h); nothing spins.

#include <signal.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>
#include <string_view>

#include "platform/posix/posix_io.h"
#include "platform/posix/posix_signals.h"
#include "platform/posix/posix_tty.h"
#include "platform/terminal.h"
#include "platform/vt/vt_terminal.h"

namespace {

using namespace posix_platform;

// How long the terminal gets to answer a request to grow before its size is checked again.
constexpr TickCount kResizeGraceMs = 100;

// Who a stop is for: the game, or its whole process group, as the system stops a background job
// that touches its terminal, so that the shell sees the job stopped.
enum class Stop { kTheGame, kTheJob };

// Lets `signal_number` through, should it be blocked.
void Unblock(int signal_number) {
  sigset_t just_this;
  sigemptyset(&just_this);
  sigaddset(&just_this, signal_number);
  ::sigprocmask(SIG_UNBLOCK, &just_this, nullptr);
}

// Stops the game by the default action of `signal_number`, whatever the game does with that signal
// otherwise, until something continues it.
void StopBy(int signal_number, Stop whom) {
  struct sigaction ours {};
  struct sigaction stop {};
  stop.sa_handler = SIG_DFL;
  sigemptyset(&stop.sa_mask);
  ::sigaction(signal_number, &stop, &ours);
  Unblock(signal_number);
  if (whom == Stop::kTheJob) {
    ::kill(0, signal_number);
  } else {
    ::raise(signal_number);
  }
  ::sigaction(signal_number, &ours, nullptr);
}

// ---- The terminal -------------------------------------------------------------------------------

class PosixTerminal final : public VtTerminal {
 public:
  PosixTerminal() : VtTerminal(GlyphsOfTheLocale()) {
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

  // A terminal has no portable way to pick a font; the user's own font is kept.
  void SetFont() override {}
  void HideCursor() override { modes_.Add(Mode::HiddenCursor); }
  ScreenFit FitScreen() override;

 private:
  // A terminal that has stopped reading holds the write; keys go on being read meanwhile.
  void Show(std::string_view bytes) override;
  bool TakeInput(KeyDecoder& decoder) override;
  bool AwaitInput(WaitLimit limit, bool for_keys) override;
  std::chrono::nanoseconds Clock() override;
  // Acts on the signals that have come; after a resize or a resume, draws the whole screen anew.
  void Attend() override;

  // Acts on Ctrl+C and its kin, Ctrl+Z and a resume; true after a resume.
  bool AttendToLifecycle();
  void Suspend();
  // Returns once the game is in the foreground; ends it first if an ending signal has come.
  void AwaitTheForeground();
  // Holds the game while the window is too small; at start-up Esc lets the player quit instead.
  ScreenFit HoldWhileTooSmall(Hold hold);
  void ShowTooSmall(const WindowSize& size, Hold hold);
  // Has the next frame draw the whole screen, where the terminal's size puts it.
  void PlaceForRepaint();
  // Waits until the terminal takes bytes or an ending signal comes, reading keys meanwhile.
  void WaitForOutput();
  void Shutdown();
  [[noreturn]] void EndBySignal(int signal_number);
  [[noreturn]] void EndAfterHangUp();

  SignalRouting signals_;
  TerminalModes modes_;
  TerminalOutput output_;
  bool ready_ = false;
};

void PosixTerminal::PlaceForRepaint() {
  RedrawWholeAt(CentreIn(MeasureWindow()));
}

// Keys are read as they come while the terminal holds the write, and an ending signal still ends
// the game. A write that may block waits first.
void PosixTerminal::Show(std::string_view bytes) {
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
    const Watch watch = RoomForKeys() ? Watch::kKeys : Watch::kWakeUpsOnly;
    const Readiness readiness = AwaitOutput(output_.fd(), watch);
    if (readiness.hung_up) EndAfterHangUp();
    if (readiness.input) TakeInput(decoder());
    if (readiness.output || ending_signal != 0) return;
  }
}

ScreenFit PosixTerminal::FitScreen() {
  const std::optional<WindowSize> size = MeasureWindow();
  if (!Fits(size)) {
    Show(GrowRequest(*size));
    const TickCount asked_at = Now();
    for (TickCount waited = 0; resized == 0 && waited < kResizeGraceMs; waited = Now() - asked_at) {
      const std::chrono::milliseconds rest(kResizeGraceMs - waited);
      AwaitInput(rest, false);
      AttendToLifecycle();
    }
  }
  resized = 0;
  if (HoldWhileTooSmall(Hold::kAtStartUp) == ScreenFit::kPlayerQuit) return ScreenFit::kPlayerQuit;
  // The menu comes next: the repaint goes out with it.
  PlaceForRepaint();
  return ScreenFit::kReady;
}

void PosixTerminal::Attend() {
  bool check_size = AttendToLifecycle();
  if (resized != 0) {
    resized = 0;
    check_size = true;
  }
  if (!check_size) return;
  (void)HoldWhileTooSmall(Hold::kDuringPlay);  // in play, no key ends the hold
  PlaceForRepaint();
  SendFrame();
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
    AwaitInput(decoder().TimeUntilTimeout(Now()), true);
    if (AttendToLifecycle()) resized = 1;  // back from a suspension: the message is gone
    if (resized != 0) {
      resized = 0;
      size = MeasureWindow();
      if (Fits(size)) return ScreenFit::kReady;
      ShowTooSmall(*size, hold);
    }
    // No key is for the game while it is held; at start-up Esc lets the player quit.
    TakeAndSettle();
    while (decoder().HasKey()) {
      if (decoder().PopKey() == kEscKey && hold == Hold::kAtStartUp) return ScreenFit::kPlayerQuit;
    }
  }
}

void PosixTerminal::ShowTooSmall(const WindowSize& size, Hold hold) {
  Show(TooSmallMessage(size, hold));
  ForgetScreen();
}

bool PosixTerminal::TakeInput(KeyDecoder& decoder) {
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
    for (ssize_t i = 0; i < count; ++i) decoder.Feed(bytes[i], now);
  }
  return false;
}

bool PosixTerminal::AwaitInput(WaitLimit limit, bool for_keys) {
  const Readiness readiness = Await(for_keys ? Watch::kKeys : Watch::kWakeUpsOnly, limit);
  if (readiness.hung_up) EndAfterHangUp();
  return readiness.input;
}

std::chrono::nanoseconds PosixTerminal::Clock() {
  timespec now{};
  ::clock_gettime(CLOCK_MONOTONIC, &now);
  return std::chrono::seconds(now.tv_sec) + std::chrono::nanoseconds(now.tv_nsec);
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
  Unblock(signal_number);
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
