#pragma once
// A fixture for behaviour tests: a fresh in-memory terminal attached to the console, a fresh
// working folder for the game's files, the best score at 0 and a fixed random seed.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>

#include "console/console.h"
#include "platform/memory/memory_terminal.h"
#include "support/screen_lines.h"

class ConsoleTest : public ::testing::Test {
 public:
  ~ConsoleTest() override;
  ConsoleTest(const ConsoleTest&) = delete;
  ConsoleTest& operator=(const ConsoleTest&) = delete;
  ConsoleTest(ConsoleTest&&) = delete;
  ConsoleTest& operator=(ConsoleTest&&) = delete;

 protected:
  ConsoleTest();

  static void WriteFile(const std::string& name, std::string_view contents);
  // The whole file, or "<missing>" when it does not exist.
  static std::string ReadFile(const std::string& name);
  static bool Exists(const std::string& name) { return std::filesystem::exists(name); }
  // The names in the working folder, to show that no temporary file is left behind.
  static std::set<std::string> Files();

  // The characters of row y as they stand, trailing blanks cut.
  std::string Row(int y) const;
  std::string Text(int x, int y, int length) const { return term.TextAt(x, y, length); }
  // The same at a named place of the game's screen, and the rest of its row, blanks cut.
  std::string Text(Point at, int length) const { return term.TextAt(at.x, at.y, length); }
  std::string RowFrom(Point at) const { return Row(at.y).substr(static_cast<std::size_t>(at.x)); }
  Colour ColourAt(Point at) const { return term.ColourAt(at.x, at.y); }

  MemoryTerminal term;

 private:
  std::filesystem::path previous_folder_;
  std::filesystem::path folder_;
};

// `length` cells of a screen as it stood, or as the terminal shows it, from a named place on.
std::string TextAt(const ScreenModel& screen, Point at, int length);
inline std::string TextAt(const MemoryTerminal& terminal, Point at, int length) {
  return TextAt(terminal.screen(), at, length);
}

// While it lives, no file can grow beyond `room` bytes, as on a full disk: that is the file size
// limit, and the signal for passing it is ignored, as the game ignores it. Windows has no
// per-process limit on file size, nor has the browser build's file system in memory, so there it
// does nothing and a test that needs it starts with SKIP_WITHOUT_FULL_DISK().
class FullDisk {
 public:
  explicit FullDisk(std::size_t room = 0);
  ~FullDisk();
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;
  FullDisk(FullDisk&&) = delete;
  FullDisk& operator=(FullDisk&&) = delete;

 private:
  struct Saved;
  std::unique_ptr<Saved> saved_;
};

#ifdef _WIN32
#define SKIP_WITHOUT_FULL_DISK() \
  GTEST_SKIP() << "a full disk cannot be made on Windows: it has no per-process file size limit"
#elif defined(__EMSCRIPTEN__)
#define SKIP_WITHOUT_FULL_DISK() \
  GTEST_SKIP() << "a full disk cannot be made in the browser build: its files live in memory"
#else
#define SKIP_WITHOUT_FULL_DISK() static_cast<void>(0)
#endif
