// Arbitrary bytes as "save.dat". The reader must turn away what it cannot use and hand back only
// games the loop can run: a heading, a body of 2..3724 cells on the playfield, a positive delay and
// food, if any, on the playfield off the body. It must stay within the memory of the largest
// snake, and a game it accepts, written out again, must read back the same.

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

// Everything one read may allocate: the body of a snake that fills the playfield, with room to
// spare for the odd small allocation, but far less than a body sized by a number in the file.
constexpr std::size_t kReadBudget = 2 * kPlayfieldCells * sizeof(Point);

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
  REQUIRE(allocated <= kReadBudget);
  return saved;
}

// The playfield spelled out here rather than taken from the game, so that the check stands apart.
bool OnTheField(Point cell) {
  return cell.x >= 2 && cell.x <= 99 && cell.y >= 2 && cell.y <= 39;
}

void CheckPlayable(const SavedGame& saved) {
  REQUIRE(IsDirection(saved.direction));
  REQUIRE(saved.body.size() >= 2);
  REQUIRE(saved.body.size() <= static_cast<std::size_t>(kPlayfieldCells));
  REQUIRE(std::all_of(saved.body.begin(), saved.body.end(), OnTheField));
  REQUIRE(saved.delay_ms >= 1);
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
  CheckPlayable(*saved);

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
