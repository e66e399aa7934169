#include "platform/posix/posix_modes.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <string>

#include "platform/posix/posix_signals.h"
#include "platform/posix/posix_waits.h"

namespace posix {

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

bool WriteAll(std::string_view bytes, std::chrono::milliseconds limit) {
  while (!bytes.empty()) {
    // Every write looks first, so that a terminal that has stopped reading holds the game in a
    // wait that gives up in time rather than in the write.
    if (!Writable(limit)) return false;
    const ssize_t written = ::write(kOutput, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
    } else if (written < 0 && errno == EINTR) {
      continue;
    } else if (written < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (!Writable(limit)) return false;
    } else {
      return false;
    }
  }
  return true;
}

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

}  // namespace posix
