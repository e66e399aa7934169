#include "app/best_score.h"

#include <cctype>
#include <cstdint>
#include <limits>

std::optional<int> ParseBestScore(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
  const std::size_t digits = at;
  std::int64_t magnitude = 0;
  constexpr std::int64_t kBeyondInt = std::int64_t{1} << 32;
  for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
    magnitude = magnitude * 10 + (text[at] - '0');
    if (magnitude >= kBeyondInt) return std::nullopt;
  }
  if (at == digits) return std::nullopt;
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max()) {
    return std::nullopt;
  }
  return static_cast<int>(value);
}
