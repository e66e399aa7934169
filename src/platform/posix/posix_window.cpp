#include "platform/posix/posix_window.h"

#include <sys/ioctl.h>

#include <algorithm>
#include <cstdio>

#include "platform/posix/posix_modes.h"
#include "platform/terminal.h"

namespace posix {

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

}  // namespace posix
