#pragma once
// Whole-program tests: the real `vorlix` binary runs in a pseudo-terminal of a tmux server that
// belongs to one test alone, in a fresh working folder. The test types keys into it and reads the
// screen back, with colours when it needs them, the way a player would see it.
//
// The game runs under a small shell script that records the terminal settings before and after it
// and prints its exit status, so that a test can tell how the game left the terminal. Sanitizer
// reports go to files in a folder of their own, never to the screen.

#include <gtest/gtest.h>
#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "support/screen_lines.h"

inline constexpr int kGameColumns = 155;
inline constexpr int kGameRows = 42;

// Foreground colours as the terminal reports them: 0..15 for the sixteen standard colours (with
// 8..15 the bright ones), 16..255 for the others, kDefaultColour when none was set.
inline constexpr int kDefaultColour = -1;
inline constexpr int kRed = 1;
inline constexpr int kGreen = 2;
inline constexpr int kWhite = 7;
inline constexpr int kDarkGrey = 8;
inline constexpr int kLightGreen = 10;
inline constexpr int kLightBlue = 12;
inline constexpr int kLightMagenta = 13;
inline constexpr int kLightCyan = 14;

struct ScreenCell {
  std::string glyph = " ";  // one character, UTF-8 encoded
  int foreground = kDefaultColour;
  int background = kDefaultColour;
};

// What the pane showed at one moment. Cells are addressed as the game addresses them: x is the
// column and y the row, both from 0 at the top left.
class Screen {
 public:
  Screen() = default;
  // Reads the output of `capture-pane -p`, with `-e` when `with_colours`.
  Screen(std::string_view captured, int columns, int rows, bool with_colours);

  int columns() const { return columns_; }
  int rows() const { return static_cast<int>(rows_.size()); }

  const ScreenCell& At(int x, int y) const;
  // `length` cells from (x, y) on, as text.
  std::string Text(int x, int y, int length) const;
  bool TextAt(int x, int y, std::string_view text) const;
  // Row y, trailing blanks cut.
  std::string Row(int y) const;
  // Every row joined with '\n', for searching and for failure messages.
  std::string ToString() const;
  bool Contains(std::string_view text) const;
  int Foreground(int x, int y) const { return At(x, y).foreground; }
  // The same at a named place of the game's screen.
  std::string Text(Point at, int length) const { return Text(at.x, at.y, length); }
  bool TextAt(Point at, std::string_view text) const { return TextAt(at.x, at.y, text); }
  int Foreground(Point at) const { return Foreground(at.x, at.y); }

  // Same characters everywhere, and the same colours wherever a character shows (a blank shows
  // the background only, whatever colour it was written in).
  bool SameAs(const Screen& other) const;
  // The first difference, for failure messages; empty when SameAs.
  std::string FirstDifference(const Screen& other) const;

  // The game's screen of kGameColumns x kGameRows cells, with its top-left cell at (x, y).
  Screen GameArea(int x, int y) const;
  // The first cell outside that area that shows anything but black; empty when there is none.
  std::string LitOutsideGameArea(int x, int y) const;

 private:
  int columns_ = 0;
  std::vector<std::vector<ScreenCell>> rows_;
};

// The exit of a program: its status when it exited, or the signal that ended it.
struct ProcessEnd {
  std::optional<int> status;
  std::optional<int> signal;
};

// The game under test: the one named by VORLIX_GAME when it is set (the build that waits as on
// macOS), else the one built beside the tests.
std::string GameBinary();

class TmuxSession {
 public:
  struct Options {
    int columns = kGameColumns;
    int rows = kGameRows;
    // Added to ASAN_OPTIONS for the game, e.g. "handle_segv=0".
    std::string sanitizer_options;
    // Shell lines run just before the game, e.g. "ulimit -f 0" or "LANG=C". The game's locale is
    // C.UTF-8 unless they say otherwise.
    std::string game_setup;
    // Captures show only the game's screen, which a pane larger than it holds in its middle: the
    // cells are then addressed as the game addresses them, whatever the pane's size.
    bool game_area_only = false;
    // Without it the pane has no alternate screen, as the Linux console: the game's end must leave
    // it blank but for the recording script's report at its top.
    bool alternate_screen = true;
  };

  TmuxSession() : TmuxSession(Options{}) {}
  explicit TmuxSession(Options options);
  // A window of another size than the game's.
  TmuxSession(int columns, int rows) : TmuxSession(Options{columns, rows, {}, {}, false}) {}
  ~TmuxSession();
  TmuxSession(const TmuxSession&) = delete;
  TmuxSession& operator=(const TmuxSession&) = delete;
  TmuxSession(TmuxSession&&) = delete;
  TmuxSession& operator=(TmuxSession&&) = delete;

  // The game's working folder; a test puts its files there before starting.
  const std::filesystem::path& folder() const { return folder_; }
  // Where the sanitizers' reports go: files "asan.<pid>" and "ubsan.<pid>".
  const std::filesystem::path& logs() const { return logs_; }
  void WriteFile(const std::string& name, std::string_view contents) const;
  // The whole file, or nothing when it cannot be read.
  std::optional<std::string> ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;

  // Runs the game in the pane under the recording script: when the game ends, the pane shows
  // "exit=<status>" followed by `stty -a` and "end-of-report", and stays open.
  void StartGame();
  // Runs an interactive bash with job control and the prompt kShellPrompt (and a blank after
  // it); GameCommand() typed into it starts the game.
  void StartShell();
  // Runs `command` (a shell command line) in the pane.
  void Start(const std::string& command);
  static constexpr std::string_view kShellPrompt = "vorlix-shell$";
  // A command that starts the game in its folder with the sanitizer settings, replacing the shell
  // that runs it.
  std::string GameCommand() const;

  // Literal text, byte for byte.
  void SendText(std::string_view text) const;
  // Named keys: Escape, Enter, Up, Down, Left, Right, Space, C-z, C-c, ...
  void SendKeys(std::initializer_list<std::string_view> keys) const;

  Screen Capture() const;
  Screen CaptureWithColours() const;
  // Where the game's screen stands in the pane at its present size: its top-left cell.
  struct Origin {
    int x = 0;
    int y = 0;
  };
  Origin GameOrigin() const;
  // Whether everything around the game's screen is black, waiting up to `timeout` for it.
  ::testing::AssertionResult WaitForBlackAroundTheGame(
      std::chrono::milliseconds timeout = std::chrono::milliseconds(2000)) const;

  // Polls the screen every 20 ms until `condition` holds; on failure the message shows `what`
  // and the last screen.
  ::testing::AssertionResult WaitFor(const std::string& what,
                                     const std::function<bool(const Screen&)>& condition,
                                     std::chrono::milliseconds timeout = kPatience) const;
  // The same, on captures with colours.
  ::testing::AssertionResult WaitForColoured(const std::string& what,
                                             const std::function<bool(const Screen&)>& condition,
                                             std::chrono::milliseconds timeout = kPatience) const;
  ::testing::AssertionResult WaitForText(int x, int y, std::string_view text,
                                         std::chrono::milliseconds timeout = kPatience) const;
  ::testing::AssertionResult WaitForText(Point at, std::string_view text,
                                         std::chrono::milliseconds timeout = kPatience) const {
    return WaitForText(at.x, at.y, text, timeout);
  }
  ::testing::AssertionResult WaitForAnywhere(std::string_view text,
                                             std::chrono::milliseconds timeout = kPatience) const;
  ::testing::AssertionResult WaitForScreen(const Screen& expected,
                                           std::chrono::milliseconds timeout = kPatience) const;

  // The pane's own process (the script or the shell) and the game inside it, if it runs.
  pid_t PanePid() const;
  std::optional<pid_t> GamePid() const;
  ::testing::AssertionResult WaitForGamePid(pid_t& pid) const;

  bool PaneDead() const;
  // How the pane's own process ended; nothing while it runs (remain-on-exit keeps the pane to
  // read). tmux 3.3 loses the status about half the time, when it sees the terminal close before
  // it reaps the process: then both parts are empty. StartGame's report does not depend on it.
  std::optional<ProcessEnd> ExitStatus() const;

  // Makes the window `columns` by `rows`; later captures have that size.
  void Resize(int columns, int rows);
  bool CursorVisible() const { return Format("#{cursor_flag}") == "1"; }
  bool AlternateScreen() const { return Format("#{alternate_on}") == "1"; }
  std::string PaneTitle() const { return Format("#{pane_title}"); }
  // A tmux format, e.g. "#{pane_width}", expanded for the pane.
  std::string Format(const std::string& format) const;

  // After StartGame: waits for the recording script to report, and gives the game's exit status
  // as the shell reports it (128 + n for signal n).
  ::testing::AssertionResult WaitForGameEnd(int& status,
                                            std::chrono::milliseconds timeout = kPatience) const;
  // After StartGame and the game's end: the terminal is as the game found it (the same settings,
  // with echo and line editing, the cursor shown, the main screen; without an alternate screen,
  // blank under the report) and no sanitizer complained.
  void ExpectTerminalRestored() const;
  // The sanitizers' settings for the game: reports go to files in logs(), never to the screen.
  std::string AsanOptions() const;
  std::string UbsanOptions() const;
  // Every report a sanitizer wrote so far, or empty.
  std::string SanitizerReports() const;
  void ExpectNoSanitizerReport() const;

  static constexpr std::chrono::milliseconds kPatience{10000};

 private:
  // Runs one tmux command line on our server; with `output`, what it printed lands there.
  bool RunTmux(std::vector<std::string> arguments, std::string* output) const;
  void StartServer(const std::string& command);
  // The pane as it stands; with `whole`, the game's screen is not cut out of it.
  Screen CapturePane(bool with_colours, bool whole) const;
  ::testing::AssertionResult Poll(const std::string& what,
                                  const std::function<bool(const Screen&)>& condition,
                                  std::chrono::milliseconds timeout, bool with_colours,
                                  bool whole = false) const;
  void WriteScripts() const;

  Options options_;
  std::filesystem::path root_;
  std::filesystem::path folder_;
  std::filesystem::path logs_;
  std::string socket_;  // the path of the server's socket, unique to this session
  bool server_started_ = false;
  int columns_ = kGameColumns;
  int rows_ = kGameRows;
};

// Runs `argv` to its end with standard input from /dev/null; gives what it wrote to standard
// output (and to standard error, when `merge_stderr`) and how it ended.
ProcessEnd RunProgram(const std::vector<std::string>& argv, std::string* output,
                      bool merge_stderr = true);
