// "save.dat": one saved game as plain text, written from the save dialog and read back when the
// player continues. The reader takes every file an earlier game wrote, and turns away any file
// that would put the game outside the playfield, make it hang or make it allocate without bound.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "console/console.h"
#include "game/game_state.h"

namespace {

constexpr const char* kSaveFile = "save.dat";
// A minute a tick. The game itself never goes beyond 1009 ms, from a hand-edited 999; a longer
// delay would leave the game deaf to every key for as long.
constexpr int kLongestDelayMs = 60'000;

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

// The whole file, or nothing when it cannot be opened or read, or is far too large to be a saved
// game.
std::optional<std::string> ReadSaveFile() {
  FileContents file = ReadGameFile(kSaveFile, kLargestSaveFile);
  if (file.status != FileContents::Status::kRead || file.cut) return std::nullopt;
  return std::move(file.text);
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
    if (ReadPair(reader, cell.x, cell.y).read < 2 || !InPlayfield(cell)) return std::nullopt;
  }

  Point food;
  const Pair food_pair = ReadSectionPair(reader, food.x, food.y);
  if (food_pair.too_large) return std::nullopt;
  if (food_pair.read == 2 && InPlayfield(food) && !OnBody(game.body, food)) game.food = food;

  const Pair game_pair = ReadSectionPair(reader, game.score, game.delay_ms);
  if (game_pair.too_large || game.delay_ms < 1 || game.delay_ms > kLongestDelayMs) {
    return std::nullopt;
  }
  return game;
}

bool LoadSavedGame(Game& game) {
  const std::optional<std::string> text = ReadSaveFile();
  if (!text) return false;
  const std::optional<SavedGame> saved = ParseSavedGame(*text);
  if (!saved) return false;

  for (std::size_t i = 2; i < saved->body.size(); ++i) game.snake.Grow();
  game.snake.PlaceBody(saved->body);
  game.snake.Face(saved->direction);
  game.score = saved->score;
  game.delay_ms = saved->delay_ms;
  if (saved->food) {
    game.food = *saved->food;
  } else {
    PlaceFood(game);
  }
  return true;
}

std::string FormatSavedGame(const Game& game) {
  std::string text = "[snake info]\n";
  AppendLine(text, game.snake.direction(), game.snake.length());
  for (Point cell : game.snake.body()) AppendLine(text, cell.x, cell.y);
  text += "[food info]\n";
  AppendLine(text, game.food.x, game.food.y);
  text += "[game info]\n";
  AppendLine(text, game.score, game.delay_ms);
  return text;
}

bool WriteSavedGame(const Game& game) {
  // A save the reader would turn away is not written: the one before it is kept instead.
  const std::string text = FormatSavedGame(game);
  return text.size() <= kLargestSaveFile && ReplaceFile(kSaveFile, text);
}

void ShowSaveDialog(const Game& game) {
  ClearSidePanel();
  DrainKeys();
  GotoXY(113, 13);
  WriteText("Save the game and continue?\a");
  GotoXY(121, 15);
  WriteText("(Y) or (Esc)");
  char answer = WaitKey();
  while (answer != 'Y' && answer != kEscKey) answer = WaitKey();
  if (answer == 'Y' && !WriteSavedGame(game)) {
    GotoXY(113, 17);
    SetColour(Colour::Red);
    WriteText("Cannot write the file \"save.dat\" !\a");
    SetColour(Colour::Normal);
    // Two seconds from now, however long the player took to answer: a pacing mark set here
    // first. The next tick then keeps the normal pace from the end of the message.
    WaitPaced(0);
    WaitPaced(2000);
  }
  ClearSidePanel();
}
