#pragma once
// The terminal's input and output on POSIX systems, and every wait on them. Each wait blocks in
// the kernel until what it waits for comes, a signal handler wakes it, or its time is up: nothing
// spins.
//
// Linux waits with ppoll() and poll(). macOS cannot poll() a terminal, so there, and on any system
// built with VORLIX_SELECT_WAITS (which is how Linux runs the macOS code), the waits use select().

#include <unistd.h>

#include <chrono>
#include <optional>
#include <string_view>

namespace posix_platform {

constexpr int kInput = STDIN_FILENO;
constexpr int kOutput = STDOUT_FILENO;

// Writes all of `bytes` to the standard output, waiting at most `limit` each time for a terminal
// that is full. False when the terminal is gone or will not take them.
bool WriteAll(std::string_view bytes, std::chrono::milliseconds limit);

// How long a wait may last, or nothing for no limit: until what it waits for comes.
using WaitLimit = std::optional<std::chrono::nanoseconds>;

// Whether a wait is for key bytes too, or only for a signal handler's wake-up. The terminal is
// watched for a hang-up either way.
enum class Watch { kKeys, kWakeUpsOnly };

struct Readiness {
  bool input = false;    // a key byte can be read
  bool hung_up = false;  // the terminal has gone (a select() wait sees that as input instead)
  bool output = false;   // the terminal takes bytes, for a wait that watches for that
};

// Blocks until a key byte can be read (when watching keys), a signal handler has woken us, or
// `limit` has passed. A wake-up is taken out of the wake-up pipe here, so the pipe never stays
// readable to make later waits return at once; the handlers' notes stay for the caller to act on.
Readiness Await(Watch watch, WaitLimit limit);
// The same without a limit, and until `output` takes bytes too: what a write waits in, so that
// keys are read as they come while the terminal is slow.
Readiness AwaitOutput(int output, Watch watch);

// Whether the standard output takes bytes within `limit`; a signal ends the wait with false.
bool Writable(std::chrono::milliseconds limit);

// Where the game writes what it draws: the terminal opened anew, non-blocking, so that a terminal
// that has stopped reading makes a write return at once instead of holding the game in it. The new
// file description is the game's alone; the one it was started with, shared with the shell, keeps
// its flags, so nothing is left to put back however the game ends, even by SIGKILL or SIGSTOP.
class TerminalOutput {
 public:
  TerminalOutput();
  ~TerminalOutput();
  TerminalOutput(const TerminalOutput&) = delete;
  TerminalOutput& operator=(const TerminalOutput&) = delete;

  int fd() const;
  // Whether a write may wait in the kernel: the game then writes to its standard output, which
  // is not its controlling terminal or could not be opened anew.
  bool Blocks() const { return own_ < 0; }

 private:
  int own_ = -1;
};

}  // namespace posix_platform
