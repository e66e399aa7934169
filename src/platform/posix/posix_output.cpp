#include "platform/posix/posix_output.h"

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/posix/posix_modes.h"

namespace posix {

// /dev/tty is the controlling terminal, the standard output's own device only when that is it.
TerminalOutput::TerminalOutput() {
  if (::tcgetsid(kOutput) != ::getsid(0)) return;
  own_ = ::open("/dev/tty", O_WRONLY | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

TerminalOutput::~TerminalOutput() {
  if (own_ >= 0) ::close(own_);
}

int TerminalOutput::fd() const {
  return own_ >= 0 ? own_ : kOutput;
}

}  // namespace posix
