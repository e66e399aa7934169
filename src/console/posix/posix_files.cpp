// The game's files on POSIX systems. Reading takes only plain files and never waits; replacing
// writes a new file of a fresh name beside the old one, pushes it to the disk, then renames it
// over the old one, which is atomic within one folder. The new file keeps the old one's owner,
// group and permission bits; a file the player may not write is never replaced.

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>

#include "console/console.h"
#include "console/file_layer.h"

namespace {

using Status = FileContents::Status;

// The POSIX operations that the steps in console/file_layer.h are written over.
struct PosixFiles {
  using Handle = int;
  static Handle Closed() { return -1; }
  static bool Close(Handle fd) { return ::close(fd) == 0; }
  static std::ptrdiff_t Read(Handle fd, char* into, std::size_t wanted) {
    ssize_t got = 0;
    do got = ::read(fd, into, wanted);
    while (got < 0 && errno == EINTR);
    return got;
  }
  static std::ptrdiff_t Write(Handle fd, const char* bytes, std::size_t size) {
    ssize_t written = 0;
    do written = ::write(fd, bytes, size);
    while (written < 0 && errno == EINTR);
    return written;
  }
  static bool Sync(Handle fd) { return ::fsync(fd) == 0; }
  // Mixes the clock, the process and a count of calls.
  static std::uint64_t Varying() {
    static std::uint64_t calls = 0;
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME, &now);
    return static_cast<std::uint64_t>(now.tv_nsec) ^
           (static_cast<std::uint64_t>(now.tv_sec) << 30) ^
           (static_cast<std::uint64_t>(::getpid()) << 40) ^ (++calls << 20);
  }
  static bool NameTaken() { return errno == EEXIST; }
  static bool Move(const char* from, const char* to) { return std::rename(from, to) == 0; }
  static void Remove(const char* path) { ::unlink(path); }
};

using Descriptor = OwnedFile<PosixFiles>;

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
  if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return Descriptor(-1);
  }
  why = Status::kRead;
  return file;
}

// The plain file at `path`, opened for writing and left as it is, with what it is in `info`; -1
// when nothing stands there, or something that is not a plain file (a link, a folder, a FIFO),
// which the new file takes the place of. `allowed` is false when a plain file stands there that
// the player may not write: the game then leaves it as it is, as the player wants.
Descriptor OpenToReplace(const char* path, struct stat& info, bool& allowed) {
  allowed = true;
  if (::lstat(path, &info) != 0 || !S_ISREG(info.st_mode)) return Descriptor(-1);
  Descriptor file(::open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  allowed = file.valid() && ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode);
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
  bool written =
      ::lseek(file.get(), 0, SEEK_SET) == 0 && WriteAll<PosixFiles>(file.get(), contents) &&
      ::ftruncate(file.get(), static_cast<off_t>(contents.size())) == 0 && ::fsync(file.get()) == 0;
  return file.Close() && written;
}

// Makes the rename itself durable; a folder that cannot be opened or synced is no failure of the
// write, which has already happened.
void SyncFolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash + 1);
  const Descriptor fd(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (fd.valid()) ::fsync(fd.get());
}

}  // namespace

FileContents ReadGameFile(const char* path, std::size_t limit) {
  FileContents contents;
  const Descriptor file = OpenPlainFile(path, contents.status);
  if (contents.status == Status::kRead) ReadUpTo<PosixFiles>(file.get(), limit, contents);
  return contents;
}

bool FileExists(const char* path) {
  Status status = Status::kMissing;
  return OpenPlainFile(path, status).valid();
}

bool ReplaceFile(const char* path, std::string_view contents) {
  struct stat old {};
  bool allowed = true;
  Descriptor existing = OpenToReplace(path, old, allowed);
  if (!allowed) return false;
  const bool replacing = existing.valid();
  // A new file takes the usual mode; a copy that replaces one stays private until it takes over.
  // O_NOFOLLOW keeps a link planted under a temporary name from being followed.
  const mode_t mode = replacing ? 0600 : 0666;
  std::string temporary;
  Descriptor file = CreateTemporaryBeside<PosixFiles>(path, temporary, [mode](const char* name) {
    return ::open(name, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
  });
  // Only a folder closed to the player calls for writing in place: where the folder is full or
  // failing, the old file is better left whole.
  if (!file.valid()) return replacing && errno == EACCES && RewriteInPlace(existing, contents);
  if (replacing && !TakeOver(file.get(), old)) {
    file.Close();
    PosixFiles::Remove(temporary.c_str());
    return RewriteInPlace(existing, contents);
  }
  if (!WriteAndMoveOver(file, temporary, path, contents)) return false;
  SyncFolderOf(path);
  return true;
}
