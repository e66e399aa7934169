#include "platform/vt/vt_terminal.h"

#include <string>
#include <utility>

void VtTerminal::WriteChar(char ch) {
  if (desired_.Write(ch)) bell_ = true;
  dirty_ = true;
  drawn_ = true;
}

void VtTerminal::Clear() {
  desired_.Clear();
  dirty_ = true;
  drawn_ = false;
}

// A screen that is yet to be drawn whole and holds nothing waits for its first text, which then
// goes out with the clear in one write.
void VtTerminal::Flush() {
  if (!dirty_ || (!drawn_ && !encoder_.ScreenKnown())) return;
  SendFrame();
}

void VtTerminal::SendFrame() {
  const std::string bytes = encoder_.Encode(desired_, desired_.TakeChangedRows(), bell_);
  dirty_ = false;
  bell_ = false;
  Show(bytes);
}

void VtTerminal::RedrawWholeAt(FrameEncoder::Position origin) {
  encoder_.PlaceAt(origin);
  encoder_.ForgetScreen();
  dirty_ = true;
}

void VtTerminal::TakeAndSettle() {
  if (TakeInput(decoder_)) decoder_.Tick(Now());
}

// Right after a paced wait that saw nothing come, no read is needed: a key that comes in between is
// read by the next wait, which then ends at once.
bool VtTerminal::KeyPending() {
  Attend();
  const bool none_waiting = std::exchange(no_input_waiting_, false);
  if (!decoder_.HasKey() && !none_waiting) TakeAndSettle();
  if (!decoder_.HasKey() && decoder_.HoldsLoneEsc()) SettleLoneEsc();
  return decoder_.HasKey();
}

// A lone ESC byte is a key pending: either the Esc key or the start of another key's sequence.
// Terminals send a whole sequence at once, so this wait of at most the sequence timeout only
// ever follows a real press of Esc, and the poll then answers with the Esc key.
void VtTerminal::SettleLoneEsc() {
  while (!decoder_.HasKey() && decoder_.HoldsLoneEsc()) {
    AwaitInput(decoder_.TimeUntilTimeout(Now()), true);
    Attend();
    TakeAndSettle();
  }
}

int VtTerminal::ReadKey() {
  Flush();
  while (!KeyPending()) {
    // Without a half-read sequence there is no time limit: only a key or the backend wakes us.
    AwaitInput(decoder_.TimeUntilTimeout(Now()), true);
  }
  return decoder_.PopKey();
}

TickCount VtTerminal::Now() {
  return static_cast<TickCount>(std::chrono::floor<std::chrono::milliseconds>(Clock()).count());
}

// The deadline is the moment the millisecond count turns to `deadline`: one sleep to the
// nanosecond keeps a run of paced waits to their length with one wake-up each. A key that comes
// meanwhile is taken at once, so that the decoder knows when each byte arrived (Esc and a key
// pressed after it are two keys, Alt and a key one), and the sleep goes on to the same deadline;
// the game sees the keys when it next looks.
void VtTerminal::SleepUntil(TickCount deadline) {
  no_input_waiting_ = false;
  for (;;) {
    Attend();
    const std::chrono::nanoseconds now = Clock();
    const auto now_ms = std::chrono::floor<std::chrono::milliseconds>(now);
    const TickCount ahead = TimeUntil(deadline, static_cast<TickCount>(now_ms.count()));
    if (ahead == 0) return;
    const std::chrono::nanoseconds rest = now_ms + std::chrono::milliseconds(ahead) - now;
    const bool for_keys = RoomForKeys();
    const bool input = AwaitInput(rest, for_keys);
    if (input) TakeInput(decoder_);
    no_input_waiting_ = for_keys && !input;
  }
}
