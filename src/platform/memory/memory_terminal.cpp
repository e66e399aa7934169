#include "platform/memory/memory_terminal.h"

#include <algorithm>

void MemoryTerminal::PressAt(std::uint64_t at, int code) {
  // Keys scheduled for the same moment keep the order in which they were scheduled.
  const auto later =
      std::upper_bound(keys_.begin(), keys_.end(), at,
                       [](std::uint64_t t, const ScheduledKey& k) { return t < k.at; });
  keys_.insert(later, ScheduledKey{at, code});
}

void MemoryTerminal::Type(std::string_view keys) {
  for (char key : keys) Press(static_cast<unsigned char>(key));
}

void MemoryTerminal::PressArrow(int scan_code) {
  Press(224);
  Press(scan_code);
}

std::string MemoryTerminal::TextAt(int x, int y, int length) const {
  return screen_.Row(y).substr(static_cast<std::size_t>(x), static_cast<std::size_t>(length));
}

void MemoryTerminal::WriteChar(char ch) {
  if (screen_.Write(ch)) ++bells_;
}

bool MemoryTerminal::KeyPending() {
  return !keys_.empty() && keys_.front().at <= elapsed_;
}

int MemoryTerminal::ReadKey() {
  if (on_key_wait) on_key_wait(*this);
  if (keys_.empty()) throw NoMoreKeys{};
  const ScheduledKey key = keys_.front();
  keys_.pop_front();
  elapsed_ = std::max(elapsed_, key.at);
  return key.code;
}

void MemoryTerminal::SleepUntil(TickCount deadline) {
  if (on_sleep) on_sleep(*this);
  elapsed_ += TimeUntil(deadline, Now());
}
