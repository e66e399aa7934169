// Signal handlers for the POSIX terminal, and the crash path that restores the terminal at once.

#include "platform/posix/posix_signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <iterator>

namespace posix_platform {

volatile std::sig_atomic_t ending_signal = 0;
volatile std::sig_atomic_t suspend_requested = 0;
volatile std::sig_atomic_t continued = 0;
volatile std::sig_atomic_t resized = 0;
EmergencyRestore emergency;

namespace {

int wake_pipe[2] = {-1, -1};

}  // namespace

void WakeUp() {
  const int saved_errno = errno;
  const char byte = 0;
  [[maybe_unused]] const ssize_t ignored = ::write(wake_pipe[1], &byte, 1);
  errno = saved_errno;
}

void WakeUpForPendingNotes() {
  if (resized != 0 || suspend_requested != 0 || continued != 0) WakeUp();
}

bool InTheBackground() {
  const pid_t foreground = ::tcgetpgrp(STDIN_FILENO);
  return foreground > 0 && foreground != ::getpgrp();
}

namespace {

// The first ending signal is the one the program ends by; a later one does not replace it.
void OnEndingSignal(int signal_number) {
  if (ending_signal == 0) ending_signal = signal_number;
  WakeUp();
}

void OnSuspend(int /*signal_number*/) {
  suspend_requested = 1;
  WakeUp();
}

void OnContinue(int /*signal_number*/) {
  continued = 1;
  WakeUp();
}

void OnResize(int /*signal_number*/) {
  resized = 1;
  WakeUp();
}

constexpr int kCrashSignals[] = {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT};

// Every other signal whose default is to end the program: each gives the terminal back first.
constexpr int kEndingSignals[] = {
    SIGINT,    SIGTERM,   SIGHUP,  SIGQUIT, SIGUSR1, SIGUSR2,
    SIGALRM,   SIGVTALRM, SIGPROF, SIGXCPU, SIGSYS,  SIGTRAP,
#if defined(SIGPWR)
    SIGPWR,
#endif
#if defined(SIGSTKFLT)
    SIGSTKFLT,
#endif
#if defined(SIGPOLL)
    SIGPOLL,
#endif
#if defined(SIGLOST)
    SIGLOST,
#endif
#if defined(SIGEMT)
    SIGEMT,
#endif
};

// A write that fails is the game's to report: a full file system ("Cannot write") or a terminal
// that went away. These two would end the program instead.
constexpr int kIgnoredSignals[] = {SIGPIPE, SIGXFSZ};
struct sigaction crash_previous[std::size(kCrashSignals)];

// A crash handler runs here, so that a stack that has overflowed still gives the terminal back.
// Kept with the program's data rather than on the heap: its pages take no memory until a crash.
alignas(16) char crash_stack[64 * 1024];

void OnCrash(int signal_number) {
  if (emergency.armed != 0 && !InTheBackground()) {
    emergency.armed = 0;  // once, even if the restore itself should fault
    std::atomic_signal_fence(std::memory_order_acquire);  // the state as it was armed
    [[maybe_unused]] const ssize_t ignored =
        ::write(STDOUT_FILENO, emergency.bytes, emergency.length);
    if (emergency.has_settings) ::tcsetattr(STDIN_FILENO, TCSANOW, &emergency.settings);
  }
  // Hand the signal on to whoever had it before (the default, or a sanitizer's report).
  for (std::size_t i = 0; i < std::size(kCrashSignals); ++i) {
    if (kCrashSignals[i] != signal_number) continue;
    if (crash_previous[i].sa_handler == SIG_IGN) crash_previous[i].sa_handler = SIG_DFL;
    ::sigaction(signal_number, &crash_previous[i], nullptr);
  }
  ::raise(signal_number);
}

bool OpenWakePipe() {
  if (::pipe(wake_pipe) != 0) return false;
  for (int fd : wake_pipe) {
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  }
  return true;
}

}  // namespace

int WakeFd() {
  return wake_pipe[0];
}

void DrainWakePipe() {
  char bytes[64];
  while (::read(wake_pipe[0], bytes, sizeof bytes) > 0) {
  }
}

SignalRouting::SignalRouting() {
  if (!OpenWakePipe()) return;
  // Held back while the handlers change, so that one that comes meanwhile waits for the handler
  // meant for it, or is dropped when its signal stays ignored.
  sigset_t every_signal;
  sigset_t before;
  sigfillset(&every_signal);
  ::sigprocmask(SIG_BLOCK, &every_signal, &before);
  // No restart for these: a write to a terminal that has stopped reading must give way to them.
  for (int signal_number : kEndingSignals)
    Route(signal_number, OnEndingSignal, IfIgnored::kStayIgnored, Interrupted::kCutShort);
#if defined(SIGRTMIN) && defined(SIGRTMAX)
  for (int signal_number = SIGRTMIN; signal_number <= SIGRTMAX; ++signal_number) {
    Route(signal_number, OnEndingSignal, IfIgnored::kStayIgnored, Interrupted::kCutShort);
  }
#endif
  for (int signal_number : kIgnoredSignals)
    Route(signal_number, SIG_IGN, IfIgnored::kRoute, Interrupted::kGoOn);
  Route(SIGTSTP, OnSuspend, IfIgnored::kStayIgnored, Interrupted::kGoOn);
  Route(SIGCONT, OnContinue, IfIgnored::kRoute, Interrupted::kGoOn);
  Route(SIGWINCH, OnResize, IfIgnored::kRoute, Interrupted::kGoOn);
  stack_t crash_stack_in_use{};
  crash_stack_in_use.ss_sp = crash_stack;
  crash_stack_in_use.ss_size = sizeof crash_stack;
  has_stack_ = ::sigaltstack(&crash_stack_in_use, &stack_before_) == 0;
  for (std::size_t i = 0; i < std::size(kCrashSignals); ++i) {
    struct sigaction action {};
    action.sa_handler = OnCrash;
    action.sa_flags = SA_ONSTACK;
    sigemptyset(&action.sa_mask);
    ::sigaction(kCrashSignals[i], &action, &crash_previous[i]);
    saved_.push_back({kCrashSignals[i], crash_previous[i]});
  }
  ::sigprocmask(SIG_SETMASK, &before, nullptr);
  ready_ = true;
}

void SignalRouting::Restore() {
  for (auto saved = saved_.rbegin(); saved != saved_.rend(); ++saved) {
    ::sigaction(saved->signal_number, &saved->action, nullptr);
  }
  saved_.clear();
  if (has_stack_) ::sigaltstack(&stack_before_, nullptr);
  has_stack_ = false;
  for (int& fd : wake_pipe) {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
  ready_ = false;
}

// The signals are held back meanwhile: one that stays ignored is set back at once, before it can
// arrive.
void SignalRouting::Route(int signal_number, void (*handler)(int), IfIgnored if_ignored,
                          Interrupted interrupted) {
  struct sigaction action {};
  action.sa_handler = handler;
  action.sa_flags = interrupted == Interrupted::kGoOn ? SA_RESTART : 0;
  sigemptyset(&action.sa_mask);
  struct sigaction previous {};
  if (::sigaction(signal_number, &action, &previous) != 0) return;
  if (if_ignored == IfIgnored::kStayIgnored && previous.sa_handler == SIG_IGN) {
    ::sigaction(signal_number, &previous, nullptr);
    return;
  }
  saved_.push_back({signal_number, previous});
}

}  // namespace posix_platform
