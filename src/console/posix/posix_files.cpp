// The game's files on POSIX systems. Reading takes only plain files and never waits; replacing
// writes a new file of a fresh name beside the old one, pushes it to the disk, then renames it
// over the old one, which is atomic within one folder. The new file keeps the old one's owner,
// group and permission bits; a file the player may not write is never replaced.

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

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

// A new, empty file "<path>.<suffix>.tmp" of the given mode (less the umask), made by this call
// alone: whatever already stands under a name it tries (a file, a link, a FIFO) is left as it is
// and another name is tried.
Descriptor CreateTemporaryBeside(const std::string& path, std::string& name, mode_t mode) {
  constexpr int kAttempts = 64;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = TemporaryNameBeside(path, Varying());
    Descriptor file(::open(name.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode));
    if (file.get() >= 0 || errno != EEXIST) return file;
  }
  return Descriptor(-1);
}

// The plain file at `path`, opened for writing and left as it is, with what it is in `info`; -1
// when nothing stands there, or something that is not a plain file (a link, a folder, a FIFO),
// which the new file takes the place of. `allowed` is false when a plain file stands there that
// the player may not write: the game then leaves it as it is, as the player wants.
Descriptor OpenToReplace(const char* path, struct stat& info, bool& allowed) {
  allowed = true;
  if (::lstat(path, &info) != 0 || !S_ISREG(info.st_mode)) return Descriptor(-1);
  Descriptor file(::open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  allowed = file.get() >= 0 && ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode);
  return allowed ? std::move(file) : Descriptor(-1);
}

// Gives the new file the owner, group and permission bits of the one it replaces. A player may
// not give a file to someone else, nor to a group they are not in: then it cannot stand in for
// the old one.
bool TakeOver(int fd, const struct stat& old) {
  struct stat made {};
  if (::fstat(fd, &made) != 0) return false;
  if ((made.st_uid != old.st_uid || made.st_gid != old.st_gid) &&
      ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    return false;
  }
  return ::fchmod(fd, old.st_mode & 0777) == 0;
}

// Writes `contents` over the file from its start, then cuts it to their length: only where no new
// file can stand in for it, such as a shared file in a folder where the player may not make one.
// Whatever goes wrong part-way leaves as much of the old text as it can.
bool RewriteInPlace(Descriptor& file, std::string_view contents) {
  bool written = ::lseek(file.get(), 0, SEEK_SET) == 0 && WriteAll(file.get(), contents) &&
                 ::ftruncate(file.get(), static_cast<off_t>(contents.size())) == 0 &&
                 ::fsync(file.get()) == 0;
  return file.Close() && written;
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
  struct stat old {};
  bool allowed = true;
  Descriptor existing = OpenToReplace(path, old, allowed);
  if (!allowed) return false;
  const bool replacing = existing.get() >= 0;
  // A new file takes the usual mode; a copy that replaces one stays private until it takes over.
  std::string temporary;
  Descriptor file = CreateTemporaryBeside(path, temporary, replacing ? 0600 : 0666);
  if (file.get() < 0) return replacing && RewriteInPlace(existing, contents);
  if (replacing && !TakeOver(file.get(), old)) {
    file.Close();
    ::unlink(temporary.c_str());
    return RewriteInPlace(existing, contents);
  }
  bool written = WriteAll(file.get(), contents) && ::fsync(file.get()) == 0;
  written = file.Close() && written;
  if (written && std::rename(temporary.c_str(), path) == 0) {
    SyncFolderOf(path);
    return true;
  }
  ::unlink(temporary.c_str());
  return false;
}
