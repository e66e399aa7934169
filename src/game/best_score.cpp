#include "game/best_score.h"

#include <cctype>
#include <cstdint>
#include <limits>

#include "platform/files.h"

int high_score = 0;

namespace {

constexpr const char* kScoreFile = "score.dat";
// Far more than any score file the game writes; a longer file is read only this far.
constexpr std::size_t kScoreFileLimit = std::size_t{64} * 1024;

}  // namespace

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

std::string FormatBestScore(int best) {
  return std::to_string(best) + "\n";
}

bool LoadBestScore(int& best) {
  const FileContents file = ReadGameFile(kScoreFile, kScoreFileLimit);
  if (file.status != FileContents::Status::kRead) return false;
  if (const std::optional<int> number = ParseBestScore(file.text)) best = *number;
  return true;
}

Stored StoreBestScore(int score, int& best) {
  best = score;
  const FileLock lock(kScoreFile);
  const FileContents file = ReadGameFile(kScoreFile, kScoreFileLimit);
  using Status = FileContents::Status;
  if (file.status != Status::kRead && file.status != Status::kMissing) return Stored::kCannotWrite;
  const std::optional<int> stored = ParseBestScore(file.text);
  if (stored && *stored >= score) {
    best = *stored;
    return Stored::kNoNewBest;
  }
  return ReplaceFile(kScoreFile, FormatBestScore(score)) ? Stored::kStored : Stored::kCannotWrite;
}
