#include "support/console_test.h"

#include "game/best_score.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#endif

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
  // Loading from the fresh, empty folder forgets what an earlier test's score file was like.
  high_score = 0;
  LoadBestScore(high_score);
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

std::string TextAt(const ScreenModel& screen, Point at, int length) {
  return screen.Row(at.y).substr(static_cast<std::size_t>(at.x), static_cast<std::size_t>(length));
}

std::set<std::string> ConsoleTest::Files() {
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(".")) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

#ifdef _WIN32
struct FullDisk::Saved {};
FullDisk::FullDisk(std::size_t) {}
FullDisk::~FullDisk() = default;
#else
struct FullDisk::Saved {
  rlimit limit{};
  struct sigaction action {};
};

FullDisk::FullDisk(std::size_t room) : saved_(std::make_unique<Saved>()) {
  ::getrlimit(RLIMIT_FSIZE, &saved_->limit);
  struct sigaction ignore {};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &saved_->action);
  rlimit none = saved_->limit;
  none.rlim_cur = room;
  ::setrlimit(RLIMIT_FSIZE, &none);
}

FullDisk::~FullDisk() {
  ::setrlimit(RLIMIT_FSIZE, &saved_->limit);
  ::sigaction(SIGXFSZ, &saved_->action, nullptr);
}
#endif
