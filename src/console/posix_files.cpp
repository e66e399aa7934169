// Replacing a file whole on POSIX systems: write a temporary file beside it, push it to the disk,
// then rename it over the old one, which is atomic within one folder.

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "console/console.h"

namespace {

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// Makes the rename itself durable; a folder that cannot be opened or synced is no failure of the
// write, which has already happened.
void SyncFolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace

bool ReplaceFile(const char* path, std::string_view contents) {
  const std::string temporary = std::string(path) + ".tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  bool written = WriteAll(fd, contents) && ::fsync(fd) == 0;
  written = (::close(fd) == 0) && written;
  if (written && std::rename(temporary.c_str(), path) == 0) {
    SyncFolderOf(path);
    return true;
  }
  ::unlink(temporary.c_str());
  return false;
}
