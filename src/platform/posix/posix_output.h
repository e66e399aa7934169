#pragma once
// Where the game writes what it draws: the terminal opened anew, non-blocking, so that a terminal
// that has stopped reading makes a write return at once instead of holding the game in it. The new
// file description is the game's alone; the one it was started with, shared with the shell, keeps
// its flags, so nothing is left to put back however the game ends, even by SIGKILL or SIGSTOP.

namespace posix {

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

}  // namespace posix
