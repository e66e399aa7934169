// The game's files on POSIX systems. Reading takes only plain files and never waits; replacing
// writes a new file of a fresh name beside the old one, pushes it to the disk, then renames it
// over the old one, which is atomic within one folder.

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>

#include "console/console.h"
#include "console/temporary_name.h"

namespace {

using Status = FileContents::Status;

// Closes the file descriptor on every way out.
class Descriptor {
 public:
  explicit Descriptor(int fd) : fd_(fd) {}
  Descriptor(Descriptor&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }
  ~Descriptor() { Close(); }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  Descriptor& operator=(Descriptor&&) = delete;

  int get() const { return fd_; }
  bool Close() {
    if (fd_ < 0) return true;
    const bool closed = ::close(fd_) == 0;
    fd_ = -1;
    return closed;
  }

 private:
  int fd_;
};

// Opens `path` for reading when it is a plain file. The look before the open keeps devices from
// being opened at all; O_NONBLOCK keeps a FIFO slipped in meanwhile from holding the open, and the
// look after it turns that away too.
Descriptor OpenPlainFile(const char* path, Status& why) {
  struct stat info {};
  if (::stat(path, &info) != 0) {
    why = errno == ENOENT ? Status::kMissing : Status::kUnreadable;
    return Descriptor(-1);
  }
  why = Status::kUnreadable;
  if (!S_ISREG(info.st_mode)) return Descriptor(-1);
  Descriptor file(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (file.get() < 0 || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return Descriptor(-1);
  }
  why = Status::kRead;
  return file;
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t written = ::write(fd, bytes.data(), bytes.size());
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A value that differs from one call to the next and from one process to another.
std::uint64_t Varying() {
  static std::uint64_t calls = 0;
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<std::uint64_t>(now.tv_nsec) ^ (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
         (static_cast<std::uint64_t>(::getpid()) << 40) ^ (++calls << 20);
}

// A new, empty file "<path>.<suffix>.tmp", made by this call alone: whatever already stands under
// a name it tries (a file, a link, a FIFO) is left as it is and another name is tried.
Descriptor CreateTemporaryBeside(const std::string& path, std::string& name) {
  constexpr int kAttempts = 64;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = TemporaryNameBeside(path, Varying());
    Descriptor file(::open(name.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0644));
    if (file.get() >= 0 || errno != EEXIST) return file;
  }
  return Descriptor(-1);
}

// Makes the rename itself durable; a folder that cannot be opened or synced is no failure of the
// write, which has already happened.
void SyncFolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.get() >= 0) ::fsync(fd.get());
}

}  // namespace

FileContents ReadGameFile(const char* path, std::size_t limit) {
  FileContents contents;
  const Descriptor file = OpenPlainFile(path, contents.status);
  if (contents.status != Status::kRead) return contents;
  char block[4096];
  while (contents.text.size() < limit) {
    const std::size_t wanted = std::min(sizeof block, limit - contents.text.size());
    const ssize_t got = ::read(file.get(), block, wanted);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      contents.status = Status::kReadError;
      return contents;
    }
    if (got == 0) return contents;
    contents.text.append(block, static_cast<std::size_t>(got));
  }
  char beyond = 0;
  ssize_t more = 0;
  do more = ::read(file.get(), &beyond, 1);
  while (more < 0 && errno == EINTR);
  contents.cut = more != 0;
  return contents;
}

bool FileExists(const char* path) {
  Status status = Status::kMissing;
  return OpenPlainFile(path, status).get() >= 0;
}

bool ReplaceFile(const char* path, std::string_view contents) {
  std::string temporary;
  Descriptor file = CreateTemporaryBeside(path, temporary);
  if (file.get() < 0) return false;
  bool written = WriteAll(file.get(), contents) && ::fsync(file.get()) == 0;
  written = file.Close() && written;
  if (written && std::rename(temporary.c_str(), path) == 0) {
    SyncFolderOf(path);
    return true;
  }
  ::unlink(temporary.c_str());
  return false;
}
