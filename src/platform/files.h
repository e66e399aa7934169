#pragma once
// The game's files in the working folder: read whole with a limit, tested for, and replaced whole.
// Only the platform's file layer stands behind these; nothing here draws.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// What reading one of the game's files gave. Only a plain file is read (a link to one is fine): a
// folder, a FIFO, a device or a socket in its place counts as a file that cannot be opened, and
// no open or read ever waits.
struct FileContents {
  enum class Status {
    kRead,        // `text` is the file, or its first `limit` bytes when `cut`
    kMissing,     // nothing of that name
    kUnreadable,  // there, but not a plain file that can be opened for reading
    kReadError,   // a read failed part-way; `text` holds what came before
  };
  Status status = Status::kMissing;
  std::string text;
  bool cut = false;  // the file goes on beyond `limit`
};
FileContents ReadGameFile(const char* path, std::size_t limit);

// Whether `path` is a plain file that can be opened for reading; it is not read.
bool FileExists(const char* path);
// Replaces the file at `name` with `contents` so that it is always either the old file or the new
// one, whole: a crash or a full disk never leaves it cut short. A symbolic link is followed, so the
// link stays and the file it points at (made if it is not there yet) is replaced. The new copy is
// written to a file of a fresh name beside the old one, so nothing else that stands in the folder
// is followed, truncated or waited on, and it keeps what was set on the old file (owner, group,
// permissions). A file that the player made read-only is left as it is. A file that cannot be
// replaced by a copy but may be written (a shared file in a folder closed to the player, one of
// another owner's, one with other names that must all show the new contents) is written over in
// place instead, once there is room for the new contents. False when it could not be done.
bool ReplaceFile(const char* name, std::string_view contents);

// While it lives, any other game that takes a FileLock for a file of the same folder waits until
// it is let go: held around reading a file again and replacing it, so that two games played at
// once each see what the other wrote. Taken where it can be; where it cannot (a folder that cannot
// be opened, a signal that cuts the wait short, a browser), it holds nothing and the game goes on.
class FileLock {
 public:
  explicit FileLock(const char* path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  FileLock(FileLock&&) = delete;
  FileLock& operator=(FileLock&&) = delete;

 private:
  std::intptr_t held_ = -1;  // the platform's own handle on what is locked
};
