#pragma once
// The game in a bare pseudo-terminal, without tmux in between: for what tmux would hide from a
// test, a terminal that goes away under the game or one that stops reading its output. The game
// runs in the folder of a TmuxSession that is never started, with that session's sanitizer
// settings, so its files and sanitizer reports are read as in any other whole-program test.

#include <sys/resource.h>
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>

#include "support/tmux_session.h"

// What the game runs under: nothing, so that it leads the terminal's session itself as in a
// terminal window that runs it directly, or a parent that ignores hang-ups and leads the session
// as a shell would, with the game ignoring them too (nohup).
enum class Under { kNothing, kNohup };

// The game started in a pseudo-terminal of the game's size: the process that leads the terminal,
// the game's own process (the same one unless under nohup), and the terminal's master side, which
// the test closes when it is done with it. The game is -1 when it could not be started.
struct PseudoTerminalGame {
  pid_t leader = -1;
  pid_t game = -1;
  int master = -1;
};

PseudoTerminalGame StartInPseudoTerminal(const TmuxSession& files, Under under);

// Reads what the game writes to `master`, appending it to `seen`, until `text` has shown up in it;
// false when the terminal closes first or TmuxSession::kPatience runs out.
bool ReadUntil(int master, const std::string& text, std::string& seen);

// Waits up to `timeout` for the child `pid` to end: its wait status, and in `usage` the CPU time of
// it and of the children it waited for. Nothing while it runs on, or when it is no child to wait
// for.
std::optional<int> AwaitEnd(pid_t pid, std::chrono::milliseconds timeout, rusage* usage = nullptr);

// CPU time a process has used so far, from /proc; nothing once it is gone.
std::optional<std::chrono::milliseconds> CpuTime(pid_t pid);
// CPU time as wait4 reports it for a process that has ended.
std::chrono::milliseconds CpuTime(const rusage& usage);
