#pragma once
// Signals on POSIX systems. The handlers only take note and wake the terminal's waits through a
// pipe; the terminal acts on the notes at its wait points, where it may do anything. A crash is
// the one exception: its handler puts the terminal back at once, with bytes and settings prepared
// in advance, before the signal goes on to end the program.

#include <signal.h>
#include <termios.h>

#include <csignal>
#include <cstddef>
#include <vector>

namespace posix_platform {

// The first signal to arrive of those whose default is to end the program (SIGINT, SIGTERM, SIGHUP
// and their kin); 0 until then.
extern volatile std::sig_atomic_t ending_signal;
extern volatile std::sig_atomic_t suspend_requested;
extern volatile std::sig_atomic_t continued;
extern volatile std::sig_atomic_t resized;

// The end of the wake-up pipe that waits watch, how to empty it once woken, and how to wake the
// next wait as a handler does.
int WakeFd();
void DrainWakePipe();
void WakeUp();
// Wakes the next wait when a note other than an ending (a resize, Ctrl+Z, a resume) is still to be
// acted on: for a wait that took the wake-up and went on.
void WakeUpForPendingNotes();

// Whether the game is a background job: another process group of its session (the shell, after
// Ctrl+Z or `bg`) has the terminal, which the game then leaves alone. A terminal that is not the
// game's controlling terminal, or that has gone, has no background. Safe in a signal handler.
bool InTheBackground();

// What puts the terminal back after a crash: a crash handler may call almost nothing, so it only
// writes these bytes and sets these settings. Whoever changes them disarms first and arms last,
// with a signal fence before arming, so that a handler never reads them half made.
struct EmergencyRestore {
  volatile std::sig_atomic_t armed = 0;
  char bytes[64] = {};
  std::size_t length = 0;
  termios settings{};
  bool has_settings = false;
};
extern EmergencyRestore emergency;

// Owns the signal handlers, the wake-up pipe and the crash handlers' own stack; gives back the old
// handlers and stack when done.
class SignalRouting {
 public:
  SignalRouting();
  ~SignalRouting() { Restore(); }
  SignalRouting(const SignalRouting&) = delete;
  SignalRouting& operator=(const SignalRouting&) = delete;

  bool ready() const { return ready_; }
  void Restore();

 private:
  struct Saved {
    int signal_number;
    struct sigaction action;
  };

  // What becomes of a signal that the program was started with ignored (nohup, a shell without
  // job control).
  enum class IfIgnored { kStayIgnored, kRoute };
  // What becomes of a system call that the signal interrupts.
  enum class Interrupted { kGoOn, kCutShort };
  void Route(int signal_number, void (*handler)(int), IfIgnored if_ignored,
             Interrupted interrupted);

  std::vector<Saved> saved_;
  stack_t stack_before_{};
  bool has_stack_ = false;
  bool ready_ = false;
};

}  // namespace posix_platform
