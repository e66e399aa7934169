#include "support/pseudo_terminal.h"

#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// In the child of forkpty: runs the game, directly or under a parent that ignores hang-ups, and
// sends the game's process id down `report`.
[[noreturn]] void RunGame(const TmuxSession& files, Under under, int report) {
  const std::string asan = files.AsanOptions();
  const std::string ubsan = files.UbsanOptions();
  if (::chdir(files.folder().c_str()) != 0) ::_exit(126);
  ::setenv("ASAN_OPTIONS", asan.c_str(), 1);
  ::setenv("UBSAN_OPTIONS", ubsan.c_str(), 1);
  ::setenv("TERM", "xterm", 1);
  ::setenv("LANG", "C.UTF-8", 1);
  ::unsetenv("LC_ALL");
  const auto run_game = [&] {
    const pid_t self = ::getpid();
    [[maybe_unused]] const ssize_t sent = ::write(report, &self, sizeof self);
    ::close(report);
    const std::string game = GameBinary();
    ::execl(game.c_str(), game.c_str(), static_cast<char*>(nullptr));
    ::_exit(127);
  };
  if (under == Under::kNothing) run_game();
  ::signal(SIGHUP, SIG_IGN);
  const pid_t game = ::fork();
  if (game < 0) ::_exit(125);
  if (game == 0) run_game();
  ::close(report);
  int status = 0;
  while (::waitpid(game, &status, 0) < 0 && errno == EINTR) {
  }
  ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status));
}

}  // namespace

PseudoTerminalGame StartInPseudoTerminal(const TmuxSession& files, Under under) {
  PseudoTerminalGame started;
  int report[2];
  if (::pipe(report) != 0) return started;
  winsize size{};
  size.ws_col = kGameColumns;
  size.ws_row = kGameRows;
  started.leader = ::forkpty(&started.master, nullptr, nullptr, &size);
  if (started.leader == 0) {
    ::close(report[0]);
    RunGame(files, under, report[1]);
  }
  ::close(report[1]);
  if (started.leader > 0 &&
      ::read(report[0], &started.game, sizeof started.game) != sizeof started.game) {
    started.game = -1;
  }
  ::close(report[0]);
  return started;
}

bool ReadUntil(int master, const std::string& text, std::string& seen) {
  const auto deadline = Clock::now() + TmuxSession::kPatience;
  while (Clock::now() < deadline) {
    pollfd input{master, POLLIN, 0};
    if (::poll(&input, 1, 50) <= 0) continue;
    char block[4096];
    const ssize_t got = ::read(master, block, sizeof block);
    if (got <= 0) return false;
    seen.append(block, static_cast<std::size_t>(got));
    if (seen.find(text) != std::string::npos) return true;
  }
  return false;
}

std::optional<int> AwaitEnd(pid_t pid, milliseconds timeout, rusage* usage) {
  const auto deadline = Clock::now() + timeout;
  int status = 0;
  pid_t ended = 0;
  while ((ended = ::wait4(pid, &status, WNOHANG, usage)) == 0 && Clock::now() < deadline) {
    std::this_thread::sleep_for(milliseconds(5));
  }
  if (ended != pid) return std::nullopt;
  return status;
}

std::optional<milliseconds> CpuTime(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line) || line.rfind(')') == std::string::npos) return std::nullopt;
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::vector<std::string> values;
  for (std::string value; fields >> value;) values.push_back(value);
  // Counted from the state (field 3 of the line): utime is field 14, stime 15.
  if (values.size() < 13) return std::nullopt;
  const long ticks = std::stol(values[11]) + std::stol(values[12]);
  return milliseconds(ticks * 1000 / ::sysconf(_SC_CLK_TCK));
}

milliseconds CpuTime(const rusage& usage) {
  using std::chrono::microseconds;
  using std::chrono::seconds;
  return std::chrono::duration_cast<milliseconds>(
      seconds(usage.ru_utime.tv_sec) + microseconds(usage.ru_utime.tv_usec) +
      seconds(usage.ru_stime.tv_sec) + microseconds(usage.ru_stime.tv_usec));
}
