#include "platform/posix/posix_io.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/select.h>
#include <termios.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "platform/posix/posix_signals.h"

#if defined(__APPLE__) && !defined(VORLIX_SELECT_WAITS)
#define VORLIX_SELECT_WAITS 1
#endif

namespace posix_platform {

namespace {

constexpr int kNoOutput = -1;

}  // namespace

#if defined(VORLIX_SELECT_WAITS)

namespace {

// A select() timeout of at least `limit`, or none.
timeval* Within(WaitLimit limit, timeval& timeout) {
  if (!limit) return nullptr;
  const auto micros = std::chrono::ceil<std::chrono::microseconds>(*limit).count();
  timeout.tv_sec = static_cast<time_t>(micros / 1'000'000);
  timeout.tv_usec = static_cast<suseconds_t>(micros % 1'000'000);
  return &timeout;
}

// A terminal that has gone shows as readable and writable here, and the read or write then
// reports it.
Readiness Wait(Watch watch, WaitLimit limit, int output) {
  fd_set readable;
  fd_set writable;
  FD_ZERO(&readable);
  FD_ZERO(&writable);
  if (watch == Watch::kKeys) FD_SET(kInput, &readable);
  FD_SET(WakeFd(), &readable);
  if (output != kNoOutput) FD_SET(output, &writable);
  timeval timeout{};
  const int highest = std::max({kInput, WakeFd(), output});
  const int ready = ::select(highest + 1, &readable, output != kNoOutput ? &writable : nullptr,
                             nullptr, Within(limit, timeout));
  if (ready <= 0) return {};
  if (FD_ISSET(WakeFd(), &readable)) DrainWakePipe();
  return {FD_ISSET(kInput, &readable) != 0, false,
          output != kNoOutput && FD_ISSET(output, &writable) != 0};
}

}  // namespace

bool Writable(std::chrono::milliseconds limit) {
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(kOutput, &writable);
  timeval timeout{};
  return ::select(kOutput + 1, nullptr, &writable, nullptr, Within(limit, timeout)) > 0;
}

#else

namespace {

// The input is watched for a hang-up even when keys are not wanted.
Readiness Wait(Watch watch, WaitLimit limit, int output) {
  pollfd fds[3] = {{kInput, static_cast<short>(watch == Watch::kKeys ? POLLIN : 0), 0},
                   {WakeFd(), POLLIN, 0},
                   {output, POLLOUT, 0}};
  timespec timeout{};
  if (limit) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(*limit);
    timeout.tv_sec = static_cast<time_t>(seconds.count());
    timeout.tv_nsec = static_cast<long>((*limit - seconds).count());
  }
  const nfds_t count = output != kNoOutput ? 3 : 2;
  if (::ppoll(fds, count, limit ? &timeout : nullptr, nullptr) <= 0) return {};
  if ((fds[1].revents & POLLIN) != 0) DrainWakePipe();
  constexpr short kGone = POLLHUP | POLLERR | POLLNVAL;
  return {(fds[0].revents & POLLIN) != 0, ((fds[0].revents | fds[2].revents) & kGone) != 0,
          (fds[2].revents & POLLOUT) != 0};
}

}  // namespace

bool Writable(std::chrono::milliseconds limit) {
  pollfd output{kOutput, POLLOUT, 0};
  const int timeout_ms = static_cast<int>(limit.count());
  return ::poll(&output, 1, timeout_ms) > 0 && (output.revents & POLLOUT) != 0;
}

#endif

Readiness Await(Watch watch, WaitLimit limit) {
  return Wait(watch, limit, kNoOutput);
}

Readiness AwaitOutput(int output, Watch watch) {
  return Wait(watch, std::nullopt, output);
}

bool WriteAll(std::string_view bytes, std::chrono::milliseconds limit) {
  while (!bytes.empty()) {
    // Every write looks first, so that a terminal that has stopped reading holds the game in a
    // wait that gives up in time rather than in the write.
    if (!Writable(limit)) return false;
    const ssize_t written = ::write(kOutput, bytes.data(), bytes.size());
    if (written > 0) {
      bytes.remove_prefix(static_cast<std::size_t>(written));
    } else if (written == 0 || (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)) {
      return false;
    }
  }
  return true;
}

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

}  // namespace posix_platform
