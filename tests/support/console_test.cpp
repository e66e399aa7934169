#include "support/console_test.h"

#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>

ConsoleTest::ConsoleTest() {
  previous_folder_ = std::filesystem::current_path();
  std::random_device random;
  folder_ = std::filesystem::temp_directory_path() / ("vorlix-test-" + std::to_string(random()));
  std::filesystem::create_directories(folder_);
  std::filesystem::current_path(folder_);
  AttachTerminal(term);
  high_score = 0;
  std::srand(1);
}

ConsoleTest::~ConsoleTest() {
  std::filesystem::current_path(previous_folder_);
  std::error_code ignored;
  std::filesystem::permissions(folder_, std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::add, ignored);
  std::filesystem::remove_all(folder_, ignored);
}

void ConsoleTest::WriteFile(const std::string& name, std::string_view contents) {
  std::ofstream(name, std::ios::binary) << contents;
}

std::string ConsoleTest::ReadFile(const std::string& name) {
  std::ifstream file(name, std::ios::binary);
  if (!file) return "<missing>";
  std::ostringstream text;
  text << file.rdbuf();
  return text.str();
}

std::string ConsoleTest::Row(int y) const {
  std::string row = term.screen().Row(y);
  row.erase(row.find_last_not_of(' ') + 1);
  return row;
}
