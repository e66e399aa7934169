#pragma once
// The game's files in the working folder: read whole with a limit, tested for, and replaced whole.
// Only the platform's file layer stands behind these; nothing here draws.

#include <cstddef>
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
// Replaces the file at `path` with `contents` so that it is always either the old file or the new
// one, whole: a crash or a full disk never leaves it cut short. The new copy is written to a file
// of a fresh name beside it, so nothing else that stands in the folder is followed, truncated or
// waited on, and it keeps what was set on the old file (owner, group, permissions). A file the
// player may not write is left as it is. Where no copy can be made beside a file the player may
// write (a shared file in a folder closed to them), the file is written over in place instead.
// False when it could not be done.
bool ReplaceFile(const char* path, std::string_view contents);
