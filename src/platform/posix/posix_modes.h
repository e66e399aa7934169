#pragma once
// The changes the game makes to the user's terminal on POSIX systems (raw mode, the alternate
// screen, colours, the hidden cursor), each undone by its own undo, in reverse order and once.

#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <string_view>
#include <vector>

namespace posix {

constexpr int kInput = STDIN_FILENO;
constexpr int kOutput = STDOUT_FILENO;
// How long a restore waits for a terminal that takes no output before giving up on it.
constexpr std::chrono::milliseconds kRestoreStall{200};

// Writes all of `bytes` to the standard output, waiting at most `limit` each time for a terminal
// that is full. False when the terminal is gone or will not take them.
bool WriteAll(std::string_view bytes, std::chrono::milliseconds limit);

enum class Mode { Raw, AlternateScreen, Colours, HiddenCursor };

// After a suspension the same changes are made again.
class TerminalModes {
 public:
  TerminalModes() = default;
  ~TerminalModes() { Leave(); }
  TerminalModes(const TerminalModes&) = delete;
  TerminalModes& operator=(const TerminalModes&) = delete;

  // Makes `mode` part of the game's terminal, now and after every resume.
  void Add(Mode mode);
  // Makes again every wanted change that is not in force, after Leave.
  void Enter();
  // Sends every change in force again, for a terminal that someone else has reset.
  void Reassert();
  bool InForce(Mode mode) const;
  // Undoes every change in force, the last first.
  void Leave();
  // Lets go of every change in force without undoing it, for a terminal that another process
  // group has taken over and set as it wants.
  void Forget();

 private:
  void Apply(Mode mode);
  bool EnterRawMode();
  void PrepareEmergency();

  std::vector<Mode> wanted_;
  std::vector<Mode> applied_;
  termios original_{};
  termios raw_{};
};

}  // namespace posix
