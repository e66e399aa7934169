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

// A select() timeout of at least `limit`, or none.
timeval* Within(WaitLimit limit, timeval& timeout) {
  if (!limit) return nullptr;
  const auto micros = std::chrono::ceil<std::chrono::microseconds>(*limit).count();
  timeout.tv_sec = static_cast<time_t>(micros / 1'000'000);
  timeout.tv_usec = static_cast<suseconds_t>(micros % 1'000'000);
  return &timeout;
}

}  // namespace

// A terminal that has gone shows as readable here, and the read then reports it.
Readiness Await(Watch watch, WaitLimit limit) {
  fd_set readable;
  FD_ZERO(&readable);
  if (watch == Watch::kKeys) FD_SET(kInput, &readable);
  FD_SET(WakeFd(), &readable);
  timeval timeout{};
  const int ready =
      ::select(std::max(kInput, WakeFd()) + 1, &readable, nullptr, nullptr, Within(limit, timeout));
  if (ready <= 0) return {};
  if (FD_ISSET(WakeFd(), &readable)) DrainWakePipe();
  return {FD_ISSET(kInput, &readable) != 0, false};
}

bool Writable(WaitLimit limit) {
  const bool watch_signals = !limit && WakeFd() >= 0;
  WakeUpLater woken;
  for (;;) {
    fd_set writable;
    fd_set readable;
    FD_ZERO(&writable);
    FD_ZERO(&readable);
    FD_SET(kOutput, &writable);
    if (watch_signals) FD_SET(WakeFd(), &readable);
    timeval timeout{};
    const int ready = ::select(std::max(kOutput, WakeFd()) + 1, &readable, &writable, nullptr,
                               Within(limit, timeout));
    if (ready > 0 && watch_signals && FD_ISSET(WakeFd(), &readable)) woken.Take();
    if (ready > 0 && FD_ISSET(kOutput, &writable)) return true;
    if (!watch_signals || ending_signal != 0 || (ready < 0 && errno != EINTR)) return false;
  }
}

#else

// The input is watched for a hang-up even when keys are not wanted.
Readiness Await(Watch watch, WaitLimit limit) {
  pollfd fds[2] = {{kInput, static_cast<short>(watch == Watch::kKeys ? POLLIN : 0), 0},
                   {WakeFd(), POLLIN, 0}};
  timespec timeout{};
  if (limit) {
    const auto seconds = std::chrono::floor<std::chrono::seconds>(*limit);
    timeout.tv_sec = static_cast<time_t>(seconds.count());
    timeout.tv_nsec = static_cast<long>((*limit - seconds).count());
  }
  if (::ppoll(fds, 2, limit ? &timeout : nullptr, nullptr) <= 0) return {};
  if ((fds[1].revents & POLLIN) != 0) DrainWakePipe();
  return {(fds[0].revents & POLLIN) != 0, (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0};
}

bool Writable(WaitLimit limit) {
  const bool watch_signals = !limit;
  const int timeout_ms =
      limit ? static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(*limit).count()) : -1;
  WakeUpLater woken;
  pollfd fds[2] = {{kOutput, POLLOUT, 0}, {WakeFd(), POLLIN, 0}};
  for (;;) {
    const int ready = ::poll(fds, watch_signals ? 2 : 1, timeout_ms);
    if (ready > 0 && watch_signals && (fds[1].revents & POLLIN) != 0) woken.Take();
    if (ready > 0 && fds[0].revents != 0) return (fds[0].revents & POLLOUT) != 0;
    if (!watch_signals || ending_signal != 0 || (ready < 0 && errno != EINTR)) return false;
  }
}

#endif

}  // namespace posix
