// Arbitrary bytes as "score.dat". The reader takes the signed decimal number after any leading
// white space, ignores what follows, and turns away a number that does not fit an int. Checked
// against a second reading built on std::from_chars, and every number it gives must read back
// from the line the game writes for it.

#include <cctype>
#include <charconv>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_support.h"
#include "game/best_score.h"

namespace {

std::optional<int> ReadByFromChars(std::string_view text) {
  std::size_t at = 0;
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '-' || text[at] == '+')) negative = text[at++] == '-';
  std::uint64_t magnitude = 0;
  const char* first = text.data() + at;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(first, last, magnitude);
  if (error != std::errc{} || end == first) return std::nullopt;
  const std::uint64_t largest =
      negative ? std::uint64_t{1} << 31 : std::uint64_t{std::numeric_limits<int>::max()};
  if (magnitude > largest) return std::nullopt;
  const std::int64_t value = static_cast<std::int64_t>(magnitude);
  return static_cast<int>(negative ? -value : value);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<int> best = ParseBestScore(text);
  REQUIRE(best == ReadByFromChars(text));
  if (best) REQUIRE(ParseBestScore(std::to_string(*best) + "\n") == best);
  return 0;
}
