#include "support/tmux_session.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

extern char** environ;  // NOLINT(readability-redundant-declaration): not every libc declares it

std::string GameBinary() {
  const char* chosen = std::getenv("VORLIX_GAME");
  return chosen != nullptr && *chosen != '\0' ? chosen : VORLIX_BINARY;
}

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr std::chrono::milliseconds kPollInterval{20};
constexpr const char* kSessionName = "game";
// The last line of what the script prints after the game.
constexpr const char* kReportEnd = "end-of-report";

// ---- Running programs ---------------------------------------------------------------------------

// Our environment less what would make tmux think it runs inside another tmux.
std::vector<std::string> ClientEnvironment() {
  std::vector<std::string> environment;
  for (char** entry = environ; *entry != nullptr; ++entry) {
    const std::string_view text(*entry);
    if (text.starts_with("TMUX=") || text.starts_with("TMUX_PANE=")) continue;
    environment.emplace_back(text);
  }
  return environment;
}

std::vector<char*> PointersTo(std::vector<std::string>& strings) {
  std::vector<char*> pointers;
  pointers.reserve(strings.size() + 1);
  for (std::string& text : strings) pointers.push_back(text.data());
  pointers.push_back(nullptr);
  return pointers;
}

// Owns a file descriptor.
class Descriptor {
 public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { Reset(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor(Descriptor&&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;
  int get() const { return fd_; }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_;
};

ProcessEnd EndOf(int wait_status) {
  ProcessEnd end;
  if (WIFEXITED(wait_status)) end.status = WEXITSTATUS(wait_status);
  if (WIFSIGNALED(wait_status)) end.signal = WTERMSIG(wait_status);
  return end;
}

// ---- Reading captures ---------------------------------------------------------------------------

// The length of the UTF-8 sequence that `lead` starts; 1 for a stray byte.
std::size_t Utf8Length(unsigned char lead) {
  if (lead >= 0xf0 && lead < 0xf8) return 4;
  if (lead >= 0xe0) return lead < 0xf0 ? 3 : 1;
  if (lead >= 0xc0) return 2;
  return 1;
}

struct Pen {
  int foreground = kDefaultColour;
  int background = kDefaultColour;
};

// Takes one SGR sequence's parameters ("1;38;5;10", "0", "") into `pen`.
void ApplySgr(std::string_view parameters, Pen& pen) {
  std::vector<int> numbers;
  while (true) {
    const std::size_t end = parameters.find_first_of(";:");
    const std::string_view part = parameters.substr(0, end);
    int value = 0;
    std::from_chars(part.data(), part.data() + part.size(), value);
    numbers.push_back(value);
    if (end == std::string_view::npos) break;
    parameters.remove_prefix(end + 1);
  }
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    const int n = numbers[i];
    if (n == 0) {
      pen = Pen{};
    } else if (n >= 30 && n <= 37) {
      pen.foreground = n - 30;
    } else if (n >= 90 && n <= 97) {
      pen.foreground = n - 90 + 8;
    } else if (n == 39) {
      pen.foreground = kDefaultColour;
    } else if (n >= 40 && n <= 47) {
      pen.background = n - 40;
    } else if (n >= 100 && n <= 107) {
      pen.background = n - 100 + 8;
    } else if (n == 49) {
      pen.background = kDefaultColour;
    } else if (n == 38 || n == 48) {
      int& target = n == 38 ? pen.foreground : pen.background;
      if (i + 2 < numbers.size() && numbers[i + 1] == 5) {
        target = numbers[i + 2];
        i += 2;
      } else if (i + 4 < numbers.size() && numbers[i + 1] == 2) {
        target = 0x1000000 | (numbers[i + 2] << 16) | (numbers[i + 3] << 8) | numbers[i + 4];
        i += 4;
      }
    }
  }
}

// Splits one captured line into cells, following the colour changes in it.
std::vector<ScreenCell> ReadLine(std::string_view line, Pen& pen) {
  std::vector<ScreenCell> cells;
  std::size_t at = 0;
  while (at < line.size()) {
    const auto byte = static_cast<unsigned char>(line[at]);
    if (byte == 0x1b) {
      if (at + 1 < line.size() && line[at + 1] == '[') {
        std::size_t end = at + 2;
        while (end < line.size() && (line[end] < 0x40 || line[end] > 0x7e)) ++end;
        if (end < line.size() && line[end] == 'm') ApplySgr(line.substr(at + 2, end - at - 2), pen);
        at = end + 1;
      } else {
        at += 2;
      }
      continue;
    }
    const std::size_t length = std::min(Utf8Length(byte), line.size() - at);
    cells.push_back(
        ScreenCell{std::string(line.substr(at, length)), pen.foreground, pen.background});
    at += length;
  }
  return cells;
}

const ScreenCell kBlankCell{};

bool IsBlank(const ScreenCell& cell) {
  return cell.glyph == " ";
}

bool CellsAlike(const ScreenCell& a, const ScreenCell& b) {
  if (a.glyph != b.glyph) return false;
  return IsBlank(a) || (a.foreground == b.foreground && a.background == b.background);
}

std::string Describe(const ScreenCell& cell) {
  return "'" + cell.glyph + "' (colour " + std::to_string(cell.foreground) + " on " +
         std::to_string(cell.background) + ")";
}

std::string Quoted(const fs::path& path) {
  return "'" + path.string() + "'";
}

}  // namespace

// ---- Screen -------------------------------------------------------------------------------------

Screen::Screen(std::string_view captured, int columns, int rows, bool with_colours)
    : columns_(columns) {
  Pen pen;
  while (!captured.empty() && static_cast<int>(rows_.size()) < rows) {
    const std::size_t end = captured.find('\n');
    const std::string_view line = captured.substr(0, end);
    if (with_colours) {
      rows_.push_back(ReadLine(line, pen));
    } else {
      Pen plain;
      rows_.push_back(ReadLine(line, plain));
    }
    if (end == std::string_view::npos) break;
    captured.remove_prefix(end + 1);
  }
  rows_.resize(static_cast<std::size_t>(rows));
}

const ScreenCell& Screen::At(int x, int y) const {
  if (y < 0 || y >= rows() || x < 0) return kBlankCell;
  const auto& row = rows_[static_cast<std::size_t>(y)];
  return static_cast<std::size_t>(x) < row.size() ? row[static_cast<std::size_t>(x)] : kBlankCell;
}

std::string Screen::Text(int x, int y, int length) const {
  std::string text;
  for (int i = 0; i < length; ++i) text += At(x + i, y).glyph;
  return text;
}

bool Screen::TextAt(int x, int y, std::string_view text) const {
  // Counted in cells: the text is expected to be plain ASCII.
  return Text(x, y, static_cast<int>(text.size())) == text;
}

std::string Screen::Row(int y) const {
  int width = columns_;
  if (y >= 0 && y < rows()) {
    width = std::max(width, static_cast<int>(rows_[static_cast<std::size_t>(y)].size()));
  }
  std::string text = Text(0, y, width);
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

std::string Screen::ToString() const {
  std::string text;
  for (int y = 0; y < rows(); ++y) text += Row(y) + "\n";
  return text;
}

bool Screen::Contains(std::string_view text) const {
  for (int y = 0; y < rows(); ++y) {
    if (Row(y).find(text) != std::string::npos) return true;
  }
  return false;
}

bool Screen::SameAs(const Screen& other) const {
  return FirstDifference(other).empty();
}

std::string Screen::FirstDifference(const Screen& other) const {
  if (rows() != other.rows()) {
    return "rows " + std::to_string(rows()) + " against " + std::to_string(other.rows());
  }
  const int width = std::max(columns_, other.columns_);
  for (int y = 0; y < rows(); ++y) {
    for (int x = 0; x < width; ++x) {
      if (!CellsAlike(At(x, y), other.At(x, y))) {
        return "cell (" + std::to_string(x) + ", " + std::to_string(y) +
               "): " + Describe(At(x, y)) + " against " + Describe(other.At(x, y));
      }
    }
  }
  return {};
}

Screen Screen::GameArea(int x, int y) const {
  Screen area;
  area.columns_ = kGameColumns;
  for (int row = 0; row < kGameRows; ++row) {
    std::vector<ScreenCell>& cells = area.rows_.emplace_back();
    for (int column = 0; column < kGameColumns; ++column) cells.push_back(At(x + column, y + row));
  }
  return area;
}

std::string Screen::LitOutsideGameArea(int x, int y) const {
  for (int row = 0; row < rows(); ++row) {
    for (int column = 0; column < columns_; ++column) {
      const bool inside =
          column >= x && column < x + kGameColumns && row >= y && row < y + kGameRows;
      const ScreenCell& cell = At(column, row);
      const bool black =
          cell.glyph == " " && (cell.background == kDefaultColour || cell.background == 0);
      if (!inside && !black) {
        return "cell (" + std::to_string(column) + ", " + std::to_string(row) +
               "): " + Describe(cell);
      }
    }
  }
  return {};
}

// ---- Programs -----------------------------------------------------------------------------------

ProcessEnd RunProgram(const std::vector<std::string>& argv, std::string* output,
                      bool merge_stderr) {
  int pipe_fds[2];
  if (::pipe2(pipe_fds, O_CLOEXEC) != 0) return {};
  Descriptor read_end(pipe_fds[0]);
  Descriptor write_end(pipe_fds[1]);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDOUT_FILENO);
  if (merge_stderr) {
    posix_spawn_file_actions_adddup2(&actions, write_end.get(), STDERR_FILENO);
  } else {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
  }
  std::vector<std::string> arguments = argv;
  std::vector<std::string> environment = ClientEnvironment();
  pid_t pid = -1;
  const int spawned = ::posix_spawnp(&pid, arguments[0].c_str(), &actions, nullptr,
                                     PointersTo(arguments).data(), PointersTo(environment).data());
  posix_spawn_file_actions_destroy(&actions);
  write_end.Reset();
  if (spawned != 0) return {};

  std::string text;
  char block[4096];
  for (;;) {
    const ssize_t got = ::read(read_end.get(), block, sizeof block);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    text.append(block, static_cast<std::size_t>(got));
  }
  int wait_status = 0;
  while (::waitpid(pid, &wait_status, 0) < 0 && errno == EINTR) {
  }
  if (output != nullptr) *output = std::move(text);
  return EndOf(wait_status);
}

// ---- The session --------------------------------------------------------------------------------

TmuxSession::TmuxSession(Options options) : options_(std::move(options)) {
  std::string pattern = (fs::temp_directory_path() / "vorlix-e2e-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    ADD_FAILURE() << "cannot make a temporary folder: " << std::strerror(errno);
    return;
  }
  root_ = pattern;
  folder_ = root_ / "game";
  logs_ = root_ / "logs";
  fs::create_directories(folder_);
  fs::create_directories(logs_);
  // The server's socket lives in the folder too, so that nothing of the session outlasts it.
  socket_ = (root_ / "tmux.socket").string();
  columns_ = options_.columns;
  rows_ = options_.rows;
}

TmuxSession::~TmuxSession() {
  if (server_started_) RunTmux({"kill-server"}, nullptr);
  if (root_.empty()) return;
  if (std::getenv("VORLIX_E2E_KEEP") != nullptr) {
    std::fprintf(stderr, "kept %s\n", root_.c_str());
    return;
  }
  // Tests may leave folders and unreadable files behind; make them removable first.
  std::error_code ignored;
  for (auto entry = fs::recursive_directory_iterator(root_, ignored);
       entry != fs::recursive_directory_iterator(); entry.increment(ignored)) {
    fs::permissions(entry->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
  }
  fs::remove_all(root_, ignored);
}

void TmuxSession::WriteFile(const std::string& name, std::string_view contents) const {
  std::ofstream file(folder_ / name, std::ios::binary | std::ios::trunc);
  file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
  if (!file) ADD_FAILURE() << "cannot write " << (folder_ / name);
}

std::optional<std::string> TmuxSession::ReadFile(const std::string& name) const {
  std::ifstream file(folder_ / name, std::ios::binary);
  if (!file || fs::is_directory(folder_ / name)) return std::nullopt;
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

bool TmuxSession::Exists(const std::string& name) const {
  std::error_code ignored;
  return fs::exists(fs::symlink_status(folder_ / name, ignored));
}

bool TmuxSession::RunTmux(std::vector<std::string> arguments, std::string* output) const {
  arguments.insert(arguments.begin(), {"tmux", "-u", "-S", socket_, "-f", "/dev/null"});
  std::string text;
  const ProcessEnd end = RunProgram(arguments, &text, output == nullptr);
  if (output != nullptr) *output = std::move(text);
  return end.status == 0;
}

std::string TmuxSession::Format(const std::string& format) const {
  std::string text;
  RunTmux({"display-message", "-p", "-t", kSessionName, format}, &text);
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

void TmuxSession::WriteScripts() const {
  const std::string sanitizers = "ASAN_OPTIONS=" + Quoted(AsanOptions()) +
                                 "; export ASAN_OPTIONS\n"
                                 "UBSAN_OPTIONS=" +
                                 Quoted(UbsanOptions()) + "; export UBSAN_OPTIONS\n";
  // No core files: a game ended by a crash signal is expected here.
  std::ofstream game(logs_ / "game.sh");
  game << "ulimit -c 0\n"
       << "cd " << Quoted(folder_) << " || exit 99\n"
       << "unset LC_ALL LC_CTYPE; LANG=C.UTF-8; export LANG\n"
       << sanitizers << options_.game_setup << "\n"
       << "exec " << Quoted(GameBinary()) << "\n";
  std::ofstream run(logs_ / "run.sh");
  run << "ulimit -c 0\n"
      << "stty -g > " << Quoted(logs_ / "stty.before") << "\n"
      << "sh " << Quoted(logs_ / "game.sh") << "\n"
      << "status=$?\n"
      << "stty -g > " << Quoted(logs_ / "stty.after") << "\n"
      << "echo \"exit=$status\"\n"
      << "stty -a\n"
      << "echo " << kReportEnd << "\n"
      << "exec sleep 100000\n";
}

std::string TmuxSession::GameCommand() const {
  return "sh " + Quoted(logs_ / "game.sh");
}

void TmuxSession::StartServer(const std::string& command) {
  WriteScripts();
  server_started_ = true;
  std::string output;
  // Options first, so that the pane starts with them: a terminal type every machine knows, a
  // pane that stays readable after its process ends, and no status line.
  const std::vector<std::vector<std::string>> commands = {
      {"start-server"},
      {"set-option", "-g", "default-terminal", "screen"},
      {"set-option", "-wg", "remain-on-exit", "on"},
      {"set-option", "-g", "status", "off"},
      {"set-option", "-wg", "alternate-screen", options_.alternate_screen ? "on" : "off"},
      {"new-session", "-d", "-s", kSessionName, "-x", std::to_string(options_.columns), "-y",
       std::to_string(options_.rows), "-c", folder_.string(), command}};
  std::vector<std::string> arguments;
  for (const std::vector<std::string>& one : commands) {
    if (!arguments.empty()) arguments.emplace_back(";");
    arguments.insert(arguments.end(), one.begin(), one.end());
  }
  const bool started = RunTmux(arguments, &output);
  if (!started) ADD_FAILURE() << "tmux did not start: " << output;
}

void TmuxSession::Start(const std::string& command) {
  StartServer(command);
}

void TmuxSession::StartGame() {
  StartServer("sh " + Quoted(logs_ / "run.sh"));
}

void TmuxSession::StartShell() {
  StartServer("env -i PATH=/usr/local/bin:/usr/bin:/bin HOME=" + Quoted(logs_) +
              " HISTFILE=/dev/null TERM=screen PS1='" + std::string(kShellPrompt) +
              " ' bash --norc --noprofile -i");
}

void TmuxSession::SendText(std::string_view text) const {
  RunTmux({"send-keys", "-t", kSessionName, "-l", "--", std::string(text)}, nullptr);
}

void TmuxSession::SendKeys(std::initializer_list<std::string_view> keys) const {
  std::vector<std::string> arguments = {"send-keys", "-t", kSessionName};
  for (std::string_view key : keys) arguments.emplace_back(key);
  RunTmux(arguments, nullptr);
}

Screen TmuxSession::Capture() const {
  return CapturePane(false, false);
}

Screen TmuxSession::CaptureWithColours() const {
  return CapturePane(true, false);
}

Screen TmuxSession::CapturePane(bool with_colours, bool whole) const {
  std::string text;
  if (with_colours) {
    RunTmux({"capture-pane", "-p", "-e", "-t", kSessionName}, &text);
  } else {
    RunTmux({"capture-pane", "-p", "-t", kSessionName}, &text);
  }
  Screen pane(text, columns_, rows_, with_colours);
  if (whole || !options_.game_area_only) return pane;
  const Origin origin = GameOrigin();
  return pane.GameArea(origin.x, origin.y);
}

TmuxSession::Origin TmuxSession::GameOrigin() const {
  return {std::max(columns_ - kGameColumns, 0) / 2, std::max(rows_ - kGameRows, 0) / 2};
}

::testing::AssertionResult TmuxSession::WaitForBlackAroundTheGame(
    std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  std::string lit;
  do {
    const Origin origin = GameOrigin();
    lit = CapturePane(true, true).LitOutsideGameArea(origin.x, origin.y);
    if (lit.empty()) return ::testing::AssertionSuccess();
    std::this_thread::sleep_for(kPollInterval);
  } while (Clock::now() < deadline);
  return ::testing::AssertionFailure() << "outside the game's screen, " << lit;
}

::testing::AssertionResult TmuxSession::Poll(const std::string& what,
                                             const std::function<bool(const Screen&)>& condition,
                                             std::chrono::milliseconds timeout, bool with_colours,
                                             bool whole) const {
  const auto deadline = Clock::now() + timeout;
  Screen screen;
  for (;;) {
    screen = CapturePane(with_colours, whole);
    if (condition(screen)) return ::testing::AssertionSuccess();
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(kPollInterval);
  }
  return ::testing::AssertionFailure()
         << "waited " << timeout.count() << " ms for " << what << "; the screen shows:\n"
         << screen.ToString();
}

::testing::AssertionResult TmuxSession::WaitFor(const std::string& what,
                                                const std::function<bool(const Screen&)>& condition,
                                                std::chrono::milliseconds timeout) const {
  return Poll(what, condition, timeout, false);
}

::testing::AssertionResult TmuxSession::WaitForColoured(
    const std::string& what, const std::function<bool(const Screen&)>& condition,
    std::chrono::milliseconds timeout) const {
  return Poll(what, condition, timeout, true);
}

::testing::AssertionResult TmuxSession::WaitForText(int x, int y, std::string_view text,
                                                    std::chrono::milliseconds timeout) const {
  return WaitFor(
      "\"" + std::string(text) + "\" at (" + std::to_string(x) + ", " + std::to_string(y) + ")",
      [&](const Screen& screen) { return screen.TextAt(x, y, text); }, timeout);
}

::testing::AssertionResult TmuxSession::WaitForAnywhere(std::string_view text,
                                                        std::chrono::milliseconds timeout) const {
  return WaitFor(
      "\"" + std::string(text) + "\" anywhere",
      [&](const Screen& screen) { return screen.Contains(text); }, timeout);
}

::testing::AssertionResult TmuxSession::WaitForScreen(const Screen& expected,
                                                      std::chrono::milliseconds timeout) const {
  const auto deadline = Clock::now() + timeout;
  Screen screen;
  for (;;) {
    screen = CaptureWithColours();
    if (screen.SameAs(expected)) return ::testing::AssertionSuccess();
    if (Clock::now() >= deadline) break;
    std::this_thread::sleep_for(kPollInterval);
  }
  return ::testing::AssertionFailure()
         << "waited " << timeout.count() << " ms for the screen to be as before; first difference "
         << screen.FirstDifference(expected) << "; the screen shows:\n"
         << screen.ToString() << "and should show:\n"
         << expected.ToString();
}

pid_t TmuxSession::PanePid() const {
  const std::string text = Format("#{pane_pid}");
  pid_t pid = 0;
  std::from_chars(text.data(), text.data() + text.size(), pid);
  return pid;
}

std::optional<pid_t> TmuxSession::GamePid() const {
  // Every process with its parent and its name, from /proc.
  std::multimap<pid_t, pid_t> children;
  std::map<pid_t, std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    pid_t pid = 0;
    if (std::from_chars(name.data(), name.data() + name.size(), pid).ec != std::errc{}) continue;
    std::ifstream stat(entry.path() / "stat");
    std::string line;
    if (!std::getline(stat, line)) continue;
    // "pid (comm) state ppid ...": the name may hold spaces and parentheses; the last ')' ends it.
    const std::size_t open = line.find('(');
    const std::size_t close = line.rfind(')');
    if (open == std::string::npos || close == std::string::npos) continue;
    std::istringstream rest(line.substr(close + 1));
    std::string state;
    pid_t parent = 0;
    rest >> state >> parent;
    children.emplace(parent, pid);
    names[pid] = line.substr(open + 1, close - open - 1);
  }
  std::vector<pid_t> queue = {PanePid()};
  std::set<pid_t> seen;
  while (!queue.empty()) {
    const pid_t pid = queue.back();
    queue.pop_back();
    if (!seen.insert(pid).second) continue;
    if (names[pid] == "vorlix") return pid;
    const auto [first, last] = children.equal_range(pid);
    for (auto child = first; child != last; ++child) queue.push_back(child->second);
  }
  return std::nullopt;
}

::testing::AssertionResult TmuxSession::WaitForGamePid(pid_t& pid) const {
  const auto deadline = Clock::now() + kPatience;
  while (Clock::now() < deadline) {
    if (const std::optional<pid_t> found = GamePid()) {
      pid = *found;
      return ::testing::AssertionSuccess();
    }
    std::this_thread::sleep_for(kPollInterval);
  }
  return ::testing::AssertionFailure() << "no vorlix process under the pane";
}

bool TmuxSession::PaneDead() const {
  return Format("#{pane_dead}") == "1";
}

std::optional<ProcessEnd> TmuxSession::ExitStatus() const {
  // One query, so that the three agree.
  const std::string text = Format("#{pane_dead}:#{pane_dead_status}:#{pane_dead_signal}");
  if (!text.starts_with("1:")) return std::nullopt;
  const std::size_t split = text.find(':', 2);
  ProcessEnd end;
  if (split == std::string::npos) return end;
  const std::string status = text.substr(2, split - 2);
  const std::string signal = text.substr(split + 1);
  int value = 0;
  if (std::from_chars(status.data(), status.data() + status.size(), value).ec == std::errc{}) {
    end.status = value;
  }
  if (std::from_chars(signal.data(), signal.data() + signal.size(), value).ec == std::errc{}) {
    end.signal = value;
  }
  return end;
}

void TmuxSession::Resize(int columns, int rows) {
  RunTmux({"resize-window", "-t", kSessionName, "-x", std::to_string(columns), "-y",
           std::to_string(rows)},
          nullptr);
  columns_ = columns;
  rows_ = rows;
}

::testing::AssertionResult TmuxSession::WaitForGameEnd(int& status,
                                                       std::chrono::milliseconds timeout) const {
  std::optional<int> found;
  const auto reported = [&](const Screen& screen) {
    found.reset();
    bool complete = false;
    for (int y = 0; y < screen.rows(); ++y) {
      const std::string row = screen.Row(y);
      int value = 0;
      if (row.starts_with("exit=") &&
          std::from_chars(row.data() + 5, row.data() + row.size(), value).ec == std::errc{}) {
        found = value;
      }
      complete = complete || row == kReportEnd;
    }
    return found && complete;
  };
  // The report is written where the shell's cursor stands, wherever the game's screen was.
  ::testing::AssertionResult result = Poll("the game to end", reported, timeout, false, true);
  if (found) status = *found;
  return result;
}

void TmuxSession::ExpectTerminalRestored() const {
  const auto read = [](const fs::path& path) {
    std::ifstream file(path);
    std::ostringstream text;
    text << file.rdbuf();
    return text.str();
  };
  const std::string before = read(logs_ / "stty.before");
  EXPECT_FALSE(before.empty()) << "the script did not record the settings";
  EXPECT_EQ(read(logs_ / "stty.after"), before) << "the terminal settings differ from before";

  // The same, as a person reads it: `stty -a` on the screen lists echo and icanon without '-'.
  std::set<std::string> words;
  const Screen screen = CapturePane(false, true);
  for (int y = 0; y < screen.rows(); ++y) {
    std::istringstream row(screen.Row(y));
    for (std::string word; row >> word;) words.insert(word);
  }
  for (const char* mode : {"echo", "icanon", "isig", "icrnl"}) {
    EXPECT_TRUE(words.contains(mode) && !words.contains(std::string("-") + mode))
        << mode << " is not on again; the screen shows:\n"
        << screen.ToString();
  }
  EXPECT_TRUE(CursorVisible()) << "the cursor is still hidden";
  EXPECT_FALSE(AlternateScreen()) << "still on the alternate screen";
  if (!options_.alternate_screen) {
    // The report at the top (after the shell's word on a signal), and nothing of the game below.
    const std::string text = screen.ToString();
    const std::size_t end = text.find(kReportEnd);
    EXPECT_TRUE(text.find("exit=") <= text.find('\n') + 1 && end != std::string::npos &&
                text.find_first_not_of('\n', end + std::strlen(kReportEnd)) == std::string::npos)
        << "the game's screen is not cleared, with the cursor at the top:\n"
        << text;
  }
  ExpectNoSanitizerReport();
}

std::string TmuxSession::AsanOptions() const {
  return "log_path=" + (logs_ / "asan").string() +
         (options_.sanitizer_options.empty() ? "" : ":" + options_.sanitizer_options);
}

std::string TmuxSession::UbsanOptions() const {
  return "log_path=" + (logs_ / "ubsan").string() + ":print_stacktrace=1";
}

std::string TmuxSession::SanitizerReports() const {
  std::string reports;
  std::error_code ignored;
  for (const fs::directory_entry& entry : fs::directory_iterator(logs_, ignored)) {
    const std::string name = entry.path().filename().string();
    if (!name.starts_with("asan") && !name.starts_with("ubsan")) continue;
    std::ifstream file(entry.path());
    std::ostringstream text;
    text << file.rdbuf();
    reports += "--- " + name + "\n" + text.str();
  }
  return reports;
}

void TmuxSession::ExpectNoSanitizerReport() const {
  const std::string reports = SanitizerReports();
  EXPECT_TRUE(reports.empty()) << reports;
}
