#include "console/posix/posix_waits.h"

#include <poll.h>
#include <sys/select.h>
#include <time.h>

#include <algorithm>
#include <cerrno>

#include "console/posix/posix_modes.h"
#include "console/posix/posix_signals.h"

#if defined(__APPLE__) && !defined(VORLIX_SELECT_WAITS)
#define VORLIX_SELECT_WAITS 1
#endif

namespace posix {

namespace {

// A wait for output that a handler woke for a note other than an ending (a resize, a suspension)
// takes the wake-up out of the pipe, so as not to spin on it, and puts one back when it is done:
// the next wait then returns at once for the caller to act on the note.
class WakeUpLater {
 public:
  WakeUpLater() = default;
  ~WakeUpLater() {
    if (taken_) WakeUp();
  }
  WakeUpLater(const WakeUpLater&) = delete;
  WakeUpLater& operator=(const WakeUpLater&) = delete;

  void Take() {
    DrainWakePipe();
    taken_ = true;
  }

 private:
  bool taken_ = false;
};

}  // namespace

#if defined(VORLIX_SELECT_WAITS)

namespace {

// A select() timeout of at least `timeout_ns`, or none (negative).
timeval* Within(std::int64_t timeout_ns, timeval& timeout) {
  if (timeout_ns < 0) return nullptr;
  const std::int64_t timeout_us = (timeout_ns + 999) / 1000;
  timeout.tv_sec = static_cast<time_t>(timeout_us / 1'000'000);
  timeout.tv_usec = static_cast<suseconds_t>(timeout_us % 1'000'000);
  return &timeout;
}

}  // namespace

// A terminal that has gone shows as readable here, and the read then reports it.
Readiness Await(bool for_input, std::int64_t timeout_ns) {
  fd_set readable;
  FD_ZERO(&readable);
  if (for_input) FD_SET(kInput, &readable);
  FD_SET(WakeFd(), &readable);
  timeval timeout{};
  const int ready = ::select(std::max(kInput, WakeFd()) + 1, &readable, nullptr, nullptr,
                             Within(timeout_ns, timeout));
  if (ready <= 0) return {};
  if (FD_ISSET(WakeFd(), &readable)) DrainWakePipe();
  return {FD_ISSET(kInput, &readable) != 0, false};
}

bool Writable(int stall_ms) {
  const bool watch_signals = stall_ms < 0 && WakeFd() >= 0;
  WakeUpLater woken;
  for (;;) {
    fd_set writable;
    fd_set readable;
    FD_ZERO(&writable);
    FD_ZERO(&readable);
    FD_SET(kOutput, &writable);
    if (watch_signals) FD_SET(WakeFd(), &readable);
    timeval timeout{};
    const int ready =
        ::select(std::max(kOutput, WakeFd()) + 1, &readable, &writable, nullptr,
                 Within(stall_ms < 0 ? -1 : std::int64_t{stall_ms} * 1'000'000, timeout));
    if (ready > 0 && watch_signals && FD_ISSET(WakeFd(), &readable)) woken.Take();
    if (ready > 0 && FD_ISSET(kOutput, &writable)) return true;
    if (!watch_signals || ending_signal != 0 || (ready < 0 && errno != EINTR)) return false;
  }
}

#else

// The input is watched for a hang-up even when keys are not wanted.
Readiness Await(bool for_input, std::int64_t timeout_ns) {
  constexpr std::int64_t kNanosecondsPerSecond = 1'000'000'000;
  pollfd fds[2] = {{kInput, static_cast<short>(for_input ? POLLIN : 0), 0}, {WakeFd(), POLLIN, 0}};
  const timespec timeout{static_cast<time_t>(timeout_ns / kNanosecondsPerSecond),
                         static_cast<long>(timeout_ns % kNanosecondsPerSecond)};
  if (::ppoll(fds, 2, timeout_ns < 0 ? nullptr : &timeout, nullptr) <= 0) return {};
  if ((fds[1].revents & POLLIN) != 0) DrainWakePipe();
  return {(fds[0].revents & POLLIN) != 0, (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0};
}

bool Writable(int stall_ms) {
  const bool watch_signals = stall_ms < 0;
  WakeUpLater woken;
  pollfd fds[2] = {{kOutput, POLLOUT, 0}, {WakeFd(), POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, watch_signals ? 2 : 1, stall_ms);
    if (ready > 0 && watch_signals && (fds[1].revents & POLLIN) != 0) woken.Take();
    if (ready > 0 && fds[0].revents != 0) return (fds[0].revents & POLLOUT) != 0;
    if (!watch_signals || ending_signal != 0 || (ready < 0 && errno != EINTR)) return false;
  }
}

#endif

}  // namespace posix
