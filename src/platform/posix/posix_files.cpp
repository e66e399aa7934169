// The game's files on POSIX systems. Reading takes only plain files and never waits; replacing
// writes a new file of a fresh name beside the old one, pushes it to the disk, then renames it
// over the old one, which is atomic within one folder. A symbolic link is written through: the new
// file goes beside the file it points at, and the link stays. The new file keeps the old one's
// owner, group and permission bits; a file without write permission is never replaced.

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/file_layer.h"

namespace {

using Status = FileContents::Status;

// The POSIX operations that the steps in platform/file_layer.h are written over.
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
  static Handle OpenPlainFile(const char* path, Status& why);
};

using Descriptor = OwnedFile<PosixFiles>;

// Opens `path` for reading when it is a plain file. The look before the open keeps devices from
// being opened at all; O_NONBLOCK keeps a FIFO slipped in meanwhile from holding the open, and the
// look after it turns that away too.
int PosixFiles::OpenPlainFile(const char* path, Status& why) {
  struct stat info {};
  if (::stat(path, &info) != 0) {
    why = errno == ENOENT ? Status::kMissing : Status::kUnreadable;
    return -1;
  }
  why = Status::kUnreadable;
  if (!S_ISREG(info.st_mode)) return -1;
  Descriptor file(::open(path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  if (!file.valid() || ::fstat(file.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return -1;
  }
  why = Status::kRead;
  return file.Release();
}

// The folder part of `path`, with its slash: empty for a name in the working folder.
std::string FolderOf(const std::string& path) {
  const auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

// Where the file at `path` really stands: each symbolic link on the way is followed to the name
// it holds, which need not exist yet. Nothing when the links go round or run too deep.
std::optional<std::string> FollowLinks(std::string path) {
  constexpr int kMostLinks = 40;  // as many as the kernel itself follows
  for (int links = 0; links <= kMostLinks; ++links) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0 || !S_ISLNK(info.st_mode)) return path;
    char target[4096];
    const ssize_t length = ::readlink(path.c_str(), target, sizeof target);
    if (length <= 0 || static_cast<std::size_t>(length) == sizeof target) return std::nullopt;
    const std::string_view to(target, static_cast<std::size_t>(length));
    path = to.front() == '/' ? std::string(to) : FolderOf(path) + std::string(to);
  }
  return std::nullopt;
}

// What stands where the game is to write its file.
enum class Existing {
  kNothing,   // no file
  kOther,     // something that is not a plain file (a folder, a FIFO, a device)
  kWritable,  // a plain file, now open for writing
  kKept,      // a plain file without write permission, which the player means to keep as it is
};

// Opens the plain file at `path` for writing, with what it is in `info`. A file whose permission
// bits give no one the right to write is kept, even from root, who could open it all the same.
Existing OpenToReplace(const char* path, Descriptor& file, struct stat& info) {
  if (::lstat(path, &info) != 0) return Existing::kNothing;
  if (!S_ISREG(info.st_mode)) return Existing::kOther;
  if ((info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0) return Existing::kKept;
  file = Descriptor(::open(path, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
  const bool open = file.valid() && ::fstat(file.get(), &info) == 0 && S_ISREG(info.st_mode);
  return open ? Existing::kWritable : Existing::kKept;
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

// Makes sure the file can grow to `size` bytes before a byte of it is written: within the file
// size limit, and with the disk's room taken for it. Either fails cleanly, leaving the file as it
// was but for room it took that is not yet written, which `old_size` then gives back.
bool MakeRoom(int fd, off_t size, off_t old_size) {
  rlimit limit{};
  if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      static_cast<rlim_t>(size) > limit.rlim_cur) {
    return false;
  }
  if (size <= old_size) return true;
#if defined(__APPLE__)
  fstore_t store{F_ALLOCATEALL, F_PEOFPOSMODE, 0, size - old_size, 0};
  const bool made = ::fcntl(fd, F_PREALLOCATE, &store) != -1 && ::ftruncate(fd, size) == 0;
#else
  const bool made = ::posix_fallocate(fd, 0, size) == 0;
#endif
  if (!made) static_cast<void>(::ftruncate(fd, old_size));
  return made;
}

// Writes `contents` over the file from its start, then cuts it to their length: where no new file
// can stand in for it (a shared file in a folder where the player may not make one, or a file
// that is someone else's) and where the file has other names that must show the new text too.
// The room for the new text is made first, so a full disk leaves the old text whole.
bool RewriteInPlace(Descriptor& file, const struct stat& old, std::string_view contents) {
  const auto size = static_cast<off_t>(contents.size());
  const bool written = MakeRoom(file.get(), size, old.st_size) &&
                       ::lseek(file.get(), 0, SEEK_SET) == 0 &&
                       WriteAll<PosixFiles>(file.get(), contents) &&
                       ::ftruncate(file.get(), size) == 0 && ::fsync(file.get()) == 0;
  return file.Close() && written;
}

Descriptor OpenFolderOf(const std::string& path) {
  const std::string folder = FolderOf(path);
  return Descriptor(
      ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
}

// Makes the rename itself durable; a folder that cannot be opened or synced is no failure of the
// write, which has already happened.
void SyncFolderOf(const std::string& path) {
  const Descriptor folder(OpenFolderOf(path));
  if (folder.valid()) ::fsync(folder.get());
}

// Replaces the file at `name` as files.h says, in the folder's own file system.
bool ReplaceOnDisk(const char* name, std::string_view contents) {
  const std::optional<std::string> path = FollowLinks(name);
  if (!path) return false;
  Descriptor existing;
  struct stat old {};
  const Existing there = OpenToReplace(path->c_str(), existing, old);
  if (there == Existing::kKept) return false;
  // The new file takes the place of a folder or a FIFO named as the game's file, but a link to
  // something that is not a plain file (a device, a folder) is not the game's to write.
  if (there == Existing::kOther && *path != name) return false;
  const bool replacing = there == Existing::kWritable;
  if (replacing && old.st_nlink > 1) return RewriteInPlace(existing, old, contents);
  // A new file takes the usual mode; a copy that replaces one stays private until it takes over.
  // O_NOFOLLOW keeps a link planted under a temporary name from being followed.
  const mode_t mode = replacing ? 0600 : 0666;
  std::string temporary;
  Descriptor file = CreateTemporaryBeside<PosixFiles>(*path, temporary, [mode](const char* at) {
    return ::open(at, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, mode);
  });
  // Only a folder closed to the player calls for writing in place: where the folder is full or
  // failing, the old file is better left whole.
  if (!file.valid()) return replacing && errno == EACCES && RewriteInPlace(existing, old, contents);
  if (replacing && !TakeOver(file.get(), old)) {
    file.Close();
    PosixFiles::Remove(temporary.c_str());
    return RewriteInPlace(existing, old, contents);
  }
  if (!WriteAndMoveOver(file, temporary, path->c_str(), contents)) return false;
  SyncFolderOf(*path);
  return true;
}

}  // namespace

FileContents ReadGameFile(const char* path, std::size_t limit) {
  return ReadPlainFile<PosixFiles>(path, limit);
}

bool FileExists(const char* path) {
  return PlainFileThere<PosixFiles>(path);
}

bool ReplaceFile(const char* name, std::string_view contents) {
  return ReplaceOnDisk(name, contents) && KeepReplacedFile(name);
}

FileLock::FileLock(const char* path) {
  Descriptor folder(OpenFolderOf(FollowLinks(path).value_or(path)));
  // An ending signal cuts the wait short; the game then writes without the lock and ends.
  if (folder.valid() && ::flock(folder.get(), LOCK_EX) == 0) held_ = folder.Release();
}

FileLock::~FileLock() {
  if (held_ >= 0) ::close(static_cast<int>(held_));  // lets the lock go
}
