#pragma once
// A fixture for behaviour tests: a fresh in-memory terminal attached to the console, a fresh
// working folder for the game's files, the best score at 0 and a fixed random seed.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/memory_terminal.h"

class ConsoleTest : public ::testing::Test {
 protected:
  ConsoleTest();
  ~ConsoleTest() override;

  static void WriteFile(const std::string& name, std::string_view contents);
  // The whole file, or "<missing>" when it does not exist.
  static std::string ReadFile(const std::string& name);
  static bool Exists(const std::string& name) { return std::filesystem::exists(name); }

  // The characters of row y as they stand, trailing blanks cut.
  std::string Row(int y) const;
  std::string Text(int x, int y, int length) const { return term.TextAt(x, y, length); }

  MemoryTerminal term;

 private:
  std::filesystem::path previous_folder_;
  std::filesystem::path folder_;
};
