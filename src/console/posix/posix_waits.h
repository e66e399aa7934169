#pragma once
// Every wait of the POSIX terminal. Each blocks in the kernel until what it waits for comes, a
// signal handler wakes it, or its time is up: nothing spins.
//
// Linux waits with ppoll() and poll(). macOS cannot poll() a terminal, so there, and on any system
// built with VORLIX_SELECT_WAITS (which is how Linux runs the macOS code), the waits use select().

#include <cstdint>

namespace posix {

struct Readiness {
  bool input = false;    // a key byte can be read
  bool hung_up = false;  // the terminal has gone (a select() wait sees that as input instead)
};

// Blocks until a key byte can be read (when `for_input`), a signal handler has woken us, or
// `timeout_ns` has passed (negative: no limit). A wake-up is taken out of the wake-up pipe here,
// so the pipe never stays readable to make later waits return at once; the handlers' notes stay
// for the caller to act on.
Readiness Await(bool for_input, std::int64_t timeout_ns);

// Whether the terminal takes output within `stall_ms`. Without a limit (negative), the wait also
// watches the wake-up pipe and ends with false as soon as an ending signal comes.
bool Writable(int stall_ms);

}  // namespace posix
