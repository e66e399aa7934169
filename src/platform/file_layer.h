#pragma once
// What both platforms' file layers do alike, written once over the few operations each platform
// brings as a struct of static functions:
//
//   using Handle = ...;                      an open file
//   static Handle Closed();                  the value no open file has
//   static bool Close(Handle);               false when the close itself failed
//   static std::ptrdiff_t Read(Handle, char* into, std::size_t wanted);
//                                            bytes read, 0 at the end, -1 when the read failed
//   static std::ptrdiff_t Write(Handle, const char* bytes, std::size_t size);
//                                            bytes written, -1 when the write failed
//   static bool Sync(Handle);                pushes what was written to the disk
//   static std::uint64_t Varying();          differs from one call and one process to the next
//   static bool NameTaken();                 whether the create that just failed found something
//                                            standing under its name
//   static bool Move(const char* from, const char* to);
//                                            puts `from` in the place of `to` in one step
//   static void Remove(const char* path);
//   static Handle OpenPlainFile(const char* path, FileContents::Status& why);
//                                            the file open for reading when it is a plain file,
//                                            `why` saying what stood there when it is not

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>

#include "platform/files.h"

// The last step of every platform's ReplaceFile: makes a file that has just been replaced last. On
// a disk it already does, and this does nothing (kept_on_disk.cpp); in a web page, where the
// folder lives in the page's memory, it hands the file to the browser's storage and waits until it
// is kept there (web/web_files.cpp). False when it could not be kept.
bool KeepReplacedFile(const char* path);

// The name of a temporary file the game writes beside one of its own before renaming it into
// place: "<path>.<eight hex digits>.tmp". `varying` differs from one call and one process to the
// next; the finaliser of splitmix64 spreads every bit of it over the digits. The standard random
// generator is the game's own and is left alone.
inline std::string TemporaryNameBeside(const std::string& path, std::uint64_t varying) {
  varying = (varying ^ (varying >> 30)) * 0xbf58476d1ce4e5b9u;
  varying = (varying ^ (varying >> 27)) * 0x94d049bb133111ebu;
  varying ^= varying >> 31;
  char digits[9];
  std::snprintf(digits, sizeof digits, "%08x", static_cast<unsigned>(varying));
  return path + "." + digits + ".tmp";
}

// Closes the open file on every way out.
template <typename Platform>
class OwnedFile {
 public:
  using Handle = typename Platform::Handle;

  OwnedFile() : handle_(Platform::Closed()) {}
  explicit OwnedFile(Handle handle) : handle_(handle) {}
  OwnedFile(OwnedFile&& other) noexcept
      : handle_(std::exchange(other.handle_, Platform::Closed())) {}
  ~OwnedFile() { Close(); }
  OwnedFile(const OwnedFile&) = delete;
  OwnedFile& operator=(const OwnedFile&) = delete;
  OwnedFile& operator=(OwnedFile&& other) noexcept {
    if (this != &other) {
      Close();
      handle_ = std::exchange(other.handle_, Platform::Closed());
    }
    return *this;
  }

  bool valid() const { return handle_ != Platform::Closed(); }
  Handle get() const { return handle_; }
  // Hands the open file to the caller, who closes it.
  Handle Release() { return std::exchange(handle_, Platform::Closed()); }
  bool Close() {
    if (!valid()) return true;
    return Platform::Close(std::exchange(handle_, Platform::Closed()));
  }

 private:
  Handle handle_;
};

// Reads the open file into `contents`, whose status says it was opened, up to `limit` bytes, then
// looks for one byte more to tell whether it was cut there. A failed read ends the text where it
// failed; a failed look for the byte beyond counts as a cut.
template <typename Platform>
void ReadUpTo(typename Platform::Handle file, std::size_t limit, FileContents& contents) {
  char block[4096];
  while (contents.text.size() < limit) {
    const std::size_t wanted = std::min(sizeof block, limit - contents.text.size());
    const std::ptrdiff_t got = Platform::Read(file, block, wanted);
    if (got < 0) {
      contents.status = FileContents::Status::kReadError;
      return;
    }
    if (got == 0) return;
    contents.text.append(block, static_cast<std::size_t>(got));
  }
  char beyond = 0;
  contents.cut = Platform::Read(file, &beyond, 1) != 0;
}

// ReadGameFile and FileExists, alike on every platform.
template <typename Platform>
FileContents ReadPlainFile(const char* path, std::size_t limit) {
  FileContents contents;
  const OwnedFile<Platform> file(Platform::OpenPlainFile(path, contents.status));
  if (contents.status == FileContents::Status::kRead) {
    ReadUpTo<Platform>(file.get(), limit, contents);
  }
  return contents;
}

template <typename Platform>
bool PlainFileThere(const char* path) {
  FileContents::Status status = FileContents::Status::kMissing;
  return OwnedFile<Platform>(Platform::OpenPlainFile(path, status)).valid();
}

// Writes the whole of `bytes`, however many writes that takes; false when one fails or writes
// nothing.
template <typename Platform>
bool WriteAll(typename Platform::Handle file, std::string_view bytes) {
  while (!bytes.empty()) {
    const std::ptrdiff_t written = Platform::Write(file, bytes.data(), bytes.size());
    if (written <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(written));
  }
  return true;
}

// A new, empty file "<path>.<eight hex digits>.tmp" made by this call alone, its name left in
// `name`. `create` makes a file under the name it is given only where nothing stands yet; whatever
// already stands under a name tried (a file, a link, a FIFO) is left as it is and another name is
// tried.
template <typename Platform, typename Create>
OwnedFile<Platform> CreateTemporaryBeside(const std::string& path, std::string& name,
                                          Create create) {
  constexpr int kAttempts = 64;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = TemporaryNameBeside(path, Platform::Varying());
    OwnedFile<Platform> file(create(name.c_str()));
    if (file.valid() || !Platform::NameTaken()) return file;
  }
  return OwnedFile<Platform>();
}

// Writes `contents` to the new file `temporary`, pushes them to the disk, closes it and moves it
// over `path`. When any step fails, the new file is removed and `path` is left as it was.
template <typename Platform>
bool WriteAndMoveOver(OwnedFile<Platform>& file, const std::string& temporary, const char* path,
                      std::string_view contents) {
  bool written = WriteAll<Platform>(file.get(), contents) && Platform::Sync(file.get());
  written = file.Close() && written;
  if (written && Platform::Move(temporary.c_str(), path)) return true;
  Platform::Remove(temporary.c_str());
  return false;
}
