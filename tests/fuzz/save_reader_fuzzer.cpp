// Arbitrary bytes as "save.dat". The reader must turn away what it cannot use and hand back only
// games the loop can run: a heading, a body of at least 2 cells on the playfield, no more nodes
// than the text has room for, a delay the game itself can reach and food, if any, on the playfield
// off the body. It must stay within memory in step with the text, and a game it accepts, written
// out again, must read back the same.

#include <sanitizer/allocator_interface.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "console/screen_layout.h"
#include "fuzz_support.h"
#include "game/saved_game_format.h"

namespace {

// A node takes at least four bytes of the text: two numbers, each after a separator.
std::size_t MostNodes(std::string_view text) {
  return std::max<std::size_t>(2, text.size() / 4);
}

// Everything one read may allocate: the body of as many nodes as the text has room for, twice
// over, with room to spare for the odd small allocation, but far less than a body sized by a
// number in the file.
std::size_t ReadBudget(std::string_view text) {
  return 4096 + 2 * MostNodes(text) * sizeof(Point);
}

// Bytes allocated while `counting`, summed; frees are not subtracted.
bool counting = false;
std::size_t allocated = 0;

void CountAllocation(const volatile void*, std::size_t size) {
  if (counting) allocated += size;
}
void IgnoreFree(const volatile void*) {}

std::optional<SavedGame> ReadCounted(std::string_view text) {
  allocated = 0;
  counting = true;
  std::optional<SavedGame> saved = ParseSavedGame(text);
  counting = false;
  REQUIRE(allocated <= ReadBudget(text));
  return saved;
}

// The playfield spelled out here rather than taken from the game, so that the check stands apart.
bool OnTheField(Point cell) {
  return cell.x >= 2 && cell.x <= 99 && cell.y >= 2 && cell.y <= 39;
}

void CheckPlayable(const SavedGame& saved, std::string_view text) {
  REQUIRE(IsDirection(saved.direction));
  REQUIRE(saved.body.size() >= 2);
  REQUIRE(saved.body.size() <= MostNodes(text));
  REQUIRE(std::all_of(saved.body.begin(), saved.body.end(), OnTheField));
  REQUIRE(saved.delay_ms >= 1 && saved.delay_ms <= 1009);
  if (saved.food) {
    REQUIRE(OnTheField(*saved.food));
    REQUIRE(std::find(saved.body.begin(), saved.body.end(), *saved.food) == saved.body.end());
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  __sanitizer_install_malloc_and_free_hooks(CountAllocation, IgnoreFree);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const std::optional<SavedGame> saved = ReadCounted(text);
  if (!saved) return 0;
  CheckPlayable(*saved, text);

  const std::string written = FormatSavedGame(*saved);
  const std::optional<SavedGame> again = ReadCounted(written);
  REQUIRE(again.has_value());
  REQUIRE(again->direction == saved->direction);
  REQUIRE(again->body == saved->body);
  REQUIRE(again->food == saved->food);
  REQUIRE(again->score == saved->score);
  REQUIRE(again->delay_ms == saved->delay_ms);
  return 0;
}
