#include "platform/posix/posix_tty.h"

#include <langinfo.h>
#include <locale.h>
#include <strings.h>
#include <sys/ioctl.h>
#if defined(__APPLE__)
#include <xlocale.h>  // newlocale and nl_langinfo_l
#endif

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/posix/posix_io.h"
#include "platform/posix/posix_signals.h"
#include "platform/terminal.h"

namespace posix_platform {

// ---- The changes to the terminal ---------------------------------------------------------------

namespace {

std::string_view ApplyBytes(Mode mode) {
  switch (mode) {
    case Mode::AlternateScreen:
      return "\x1b[?1049h";
    case Mode::HiddenCursor:
      return "\x1b[?25l";
    default:
      return {};  // raw mode is a setting; colours are set by the frames
  }
}

std::string_view UndoBytes(Mode mode) {
  switch (mode) {
    case Mode::AlternateScreen:
      // Blanks the screen and puts the cursor at the top-left before leaving it. A terminal with
      // an alternate screen then shows the user's own screen again, untouched; one without (the
      // Linux console, GNU screen by default), which has drawn the game on its only screen, is
      // left blank with the shell's prompt at the top, however the game ended.
      return "\x1b[H\x1b[2J\x1b[?1049l";
    case Mode::Colours:
      return "\x1b[0m";
    case Mode::HiddenCursor:
      return "\x1b[?25h";
    default:
      return {};
  }
}

}  // namespace

void TerminalModes::Add(Mode mode) {
  if (std::find(wanted_.begin(), wanted_.end(), mode) != wanted_.end()) return;
  wanted_.push_back(mode);
  Apply(mode);
}

void TerminalModes::Enter() {
  for (Mode mode : wanted_) {
    if (!InForce(mode)) Apply(mode);
  }
}

void TerminalModes::Reassert() {
  std::string bytes;
  for (Mode mode : applied_) {
    if (mode == Mode::Raw) ::tcsetattr(kInput, TCSANOW, &raw_);
    bytes += ApplyBytes(mode);
  }
  WriteAll(bytes, kRestoreStall);
}

bool TerminalModes::InForce(Mode mode) const {
  return std::find(applied_.begin(), applied_.end(), mode) != applied_.end();
}

void TerminalModes::Leave() {
  emergency.armed = 0;
  std::string bytes;
  for (auto mode = applied_.rbegin(); mode != applied_.rend(); ++mode) {
    bytes += UndoBytes(*mode);
    if (*mode != Mode::Raw) continue;
    WriteAll(bytes, kRestoreStall);
    bytes.clear();
    ::tcsetattr(kInput, TCSANOW, &original_);
  }
  WriteAll(bytes, kRestoreStall);
  applied_.clear();
}

void TerminalModes::Forget() {
  emergency.armed = 0;
  applied_.clear();
}

void TerminalModes::Apply(Mode mode) {
  if (mode == Mode::Raw && !EnterRawMode()) return;
  WriteAll(ApplyBytes(mode), kRestoreStall);
  applied_.push_back(mode);
  PrepareEmergency();
}

// No echo, no line editing, every byte as it comes; Ctrl+C and Ctrl+Z keep sending their
// signals. TCSANOW keeps the keys typed during start-up.
bool TerminalModes::EnterRawMode() {
  if (::tcgetattr(kInput, &original_) != 0) return false;
  raw_ = original_;
  raw_.c_iflag &= ~static_cast<tcflag_t>(BRKINT | ICRNL | INLCR | IGNCR | ISTRIP | IXON);
  raw_.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL | ICANON | IEXTEN);
  raw_.c_cflag |= CS8;
  raw_.c_cc[VMIN] = 1;
  raw_.c_cc[VTIME] = 0;
  return ::tcsetattr(kInput, TCSANOW, &raw_) == 0;
}

void TerminalModes::PrepareEmergency() {
  emergency.armed = 0;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::string bytes;
  for (auto mode = applied_.rbegin(); mode != applied_.rend(); ++mode) bytes += UndoBytes(*mode);
  emergency.length = std::min(bytes.size(), sizeof emergency.bytes);
  std::memcpy(emergency.bytes, bytes.data(), emergency.length);
  emergency.settings = original_;
  emergency.has_settings = InForce(Mode::Raw);
  std::atomic_signal_fence(std::memory_order_release);
  emergency.armed = 1;
}

// ---- The window --------------------------------------------------------------------------------

std::optional<WindowSize> MeasureWindow() {
  winsize size{};
  if (::ioctl(kOutput, TIOCGWINSZ, &size) != 0 || size.ws_col == 0 || size.ws_row == 0) {
    return std::nullopt;
  }
  return WindowSize{size.ws_col, size.ws_row};
}

bool Fits(const std::optional<WindowSize>& size) {
  return !size || (size->columns >= kScreenWidth && size->rows >= kScreenHeight);
}

FrameEncoder::Position CentreIn(const std::optional<WindowSize>& size) {
  if (!size) return {};
  return {std::max(size->columns - kScreenWidth, 0) / 2,
          std::max(size->rows - kScreenHeight, 0) / 2};
}

std::string GrowRequest(const WindowSize& size) {
  return "\x1b[8;" + std::to_string(std::max(size.rows, kScreenHeight)) + ";" +
         std::to_string(std::max(size.columns, kScreenWidth)) + "t";
}

std::string TooSmallMessage(const WindowSize& size, Hold hold) {
  const char* way_out =
      hold == Hold::kAtStartUp
          ? "Please enlarge the window, or press Esc to quit."
          : "Please enlarge the window to go on, or press Ctrl+C to quit at once.";
  char message[256];
  std::snprintf(message, sizeof message,
                "\x1b[0;37;40m\x1b[2J\x1b[H%s needs a terminal of at least %d x %d characters; "
                "this one is %d x %d.\r\n%s",
                game_title, kScreenWidth, kScreenHeight, size.columns, size.rows, way_out);
  return message;
}

// ---- The locale --------------------------------------------------------------------------------

namespace {

bool NamesUtf8(const char* name) {
  if (name == nullptr) return false;
  const std::string_view text(name);
  for (std::string_view form : {"UTF-8", "utf-8", "UTF8", "utf8"}) {
    if (text.find(form) != std::string_view::npos) return true;
  }
  return false;
}

}  // namespace

Glyphs GlyphsOfTheLocale() {
  // The locale's name, as the C library picks it: the first of these that is set and not empty.
  const char* name = nullptr;
  for (const char* variable : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    name = std::getenv(variable);
    if (name != nullptr && *name != '\0') break;
  }
  // A name that says UTF-8 is enough, whether or not that locale is installed; only another name
  // needs the locale itself looked up.
  if (NamesUtf8(name)) return Glyphs::kUtf8;
  if (const locale_t user = ::newlocale(LC_CTYPE_MASK, "", locale_t{})) {
    const bool utf8 = ::strcasecmp(::nl_langinfo_l(CODESET, user), "UTF-8") == 0;
    ::freelocale(user);
    return utf8 ? Glyphs::kUtf8 : Glyphs::kAscii;
  }
  return Glyphs::kAscii;
}

}  // namespace posix_platform
