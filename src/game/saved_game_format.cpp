// "save.dat": one saved game as plain text. The reader takes every file an earlier game wrote, and
// turns away any file that would put the game outside the playfield, make it hang or make it
// allocate without bound.

#include "game/saved_game_format.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>

#include "console/screen_layout.h"

namespace {

// The slowest pace the game's own keys reach: D stops adding 10 ms once the delay is 1000 or more,
// so a save written at 999 comes back as 1009 at most. A longer delay is no game's, and it would
// leave the game deaf to every key for as long.
constexpr int kLongestDelayMs = 1000 + 9;

// Reads the file the way the game always has: a run of non-digits skipped before each section's
// pair, then signed decimal numbers separated by white space.
class SaveReader {
 public:
  enum class Read { kNumber, kNone, kTooLarge };

  explicit SaveReader(std::string_view text) : text_(text) {}

  // Skips a run of one or more characters that are not digits; false when there is none.
  bool SkipNonDigits() {
    const std::size_t start = pos_;
    while (pos_ < text_.size() && !IsDigit(text_[pos_])) ++pos_;
    return pos_ > start;
  }

  // Reads one signed decimal number after any white space. On kNone nothing is consumed but the
  // white space.
  Read Number(int& value) {
    while (pos_ < text_.size() && std::isspace(static_cast<unsigned char>(text_[pos_]))) ++pos_;
    std::size_t at = pos_;
    const bool negative = at < text_.size() && text_[at] == '-';
    if (at < text_.size() && (text_[at] == '-' || text_[at] == '+')) ++at;
    if (at >= text_.size() || !IsDigit(text_[at])) return Read::kNone;
    std::int64_t magnitude = 0;
    bool too_large = false;
    for (; at < text_.size() && IsDigit(text_[at]); ++at) {
      magnitude = std::min<std::int64_t>(magnitude * 10 + (text_[at] - '0'), kBeyondInt);
      too_large = too_large || magnitude == kBeyondInt;
    }
    pos_ = at;
    const std::int64_t signed_value = negative ? -magnitude : magnitude;
    if (too_large || signed_value < std::numeric_limits<int>::min() ||
        signed_value > std::numeric_limits<int>::max()) {
      return Read::kTooLarge;
    }
    value = static_cast<int>(signed_value);
    return Read::kNumber;
  }

 private:
  static constexpr std::int64_t kBeyondInt = std::int64_t{1} << 40;
  static bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

  std::string_view text_;
  std::size_t pos_ = 0;
};

// The result of reading one pair: how many of its two numbers were read, or a number too large.
struct Pair {
  int read = 0;
  bool too_large = false;
};

Pair ReadPair(SaveReader& reader, int& first, int& second) {
  Pair pair;
  for (int* target : {&first, &second}) {
    const SaveReader::Read result = reader.Number(*target);
    if (result == SaveReader::Read::kTooLarge) pair.too_large = true;
    if (result != SaveReader::Read::kNumber) break;
    ++pair.read;
  }
  return pair;
}

Pair ReadSectionPair(SaveReader& reader, int& first, int& second) {
  if (!reader.SkipNonDigits()) return {};
  return ReadPair(reader, first, second);
}

// Every node takes at least four characters of the text: two numbers, each after a separator. A
// count the text has no room for is damaged before anything is made for it, so the body is never
// larger than the file, which the reader takes only up to kLargestSaveFile.
bool RoomForNodes(int count, std::string_view text) {
  return count <= 0 || static_cast<std::size_t>(count) <= text.size() / 4;
}

bool OnBody(const std::vector<Point>& body, Point cell) {
  return std::find(body.begin(), body.end(), cell) != body.end();
}

void AppendLine(std::string& text, int first, int second) {
  text += std::to_string(first) + ' ' + std::to_string(second) + '\n';
}

}  // namespace

std::optional<SavedGame> ParseSavedGame(std::string_view text) {
  SaveReader reader(text);
  SavedGame game;

  int count = 0;
  const Pair first = ReadSectionPair(reader, game.direction, count);
  if (first.read < 2 || !IsDirection(game.direction) || !RoomForNodes(count, text)) {
    return std::nullopt;
  }

  game.body.resize(static_cast<std::size_t>(std::max(count, 2)));
  for (Point& cell : game.body) {
    if (ReadPair(reader, cell.x, cell.y).read < 2 || !InPlayfield(cell.x, cell.y))
      return std::nullopt;
  }

  Point food;
  const Pair food_pair = ReadSectionPair(reader, food.x, food.y);
  if (food_pair.too_large) return std::nullopt;
  if (food_pair.read == 2 && InPlayfield(food.x, food.y) && !OnBody(game.body, food))
    game.food = food;

  const Pair game_pair = ReadSectionPair(reader, game.score, game.delay_ms);
  if (game_pair.too_large || game.delay_ms < 1 || game.delay_ms > kLongestDelayMs) {
    return std::nullopt;
  }
  return game;
}

std::string FormatSavedGame(const SavedGame& game) {
  std::string text = "[snake info]\n";
  AppendLine(text, game.direction, static_cast<int>(game.body.size()));
  for (Point cell : game.body) AppendLine(text, cell.x, cell.y);
  text += "[food info]\n";
  // The pair keeps its place when there is no food: a cell off the playfield reads back as none.
  const Point food = game.food.value_or(Point{0, 0});
  AppendLine(text, food.x, food.y);
  text += "[game info]\n";
  AppendLine(text, game.score, game.delay_ms);
  return text;
}
