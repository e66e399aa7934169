// The game's files on Windows. Reading takes only plain files on a disk; replacing writes a new
// file of a fresh name beside the old one, pushes it to the disk, then moves it over the old one
// in a single step that is itself written through to the disk. A file marked read-only is never
// replaced.

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/temporary_name.h"
#include "console/windows/windows_api.h"

namespace {

using Status = FileContents::Status;

// Closes the file handle on every way out.
class FileHandle {
 public:
  explicit FileHandle(HANDLE handle) : handle_(handle) {}
  FileHandle(FileHandle&& other) noexcept : handle_(other.handle_) {
    other.handle_ = INVALID_HANDLE_VALUE;
  }
  ~FileHandle() { Close(); }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  FileHandle& operator=(FileHandle&&) = delete;

  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }
  bool Close() {
    if (!valid()) return true;
    const bool closed = CloseHandle(handle_) != 0;
    handle_ = INVALID_HANDLE_VALUE;
    return closed;
  }

 private:
  HANDLE handle_;
};

// Opens `path` for reading when it is a plain file on a disk. Others may go on reading, writing
// or replacing it meanwhile; a folder fails the open, and a device or a pipe is turned away
// before anything is read from it.
FileHandle OpenPlainFile(const char* path, Status& why) {
  FileHandle file(CreateFileA(path, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    why = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Status::kMissing
                                                                         : Status::kUnreadable;
    return file;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = Status::kUnreadable;
    return FileHandle(INVALID_HANDLE_VALUE);
  }
  why = Status::kRead;
  return file;
}

bool WriteAll(HANDLE file, std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk =
        bytes.size() > 0x4000'0000u ? 0x4000'0000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

// A value that differs from one call to the next and from one process to another.
std::uint64_t Varying() {
  static std::uint64_t calls = 0;
  LARGE_INTEGER counter{};
  QueryPerformanceCounter(&counter);
  return static_cast<std::uint64_t>(counter.QuadPart) ^
         (static_cast<std::uint64_t>(GetCurrentProcessId()) << 40) ^ (++calls << 20);
}

// A new, empty file "<path>.<suffix>.tmp", made by this call alone: whatever already stands under
// a name it tries is left as it is and another name is tried.
FileHandle CreateTemporaryBeside(const std::string& path, std::string& name) {
  constexpr int kAttempts = 64;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    name = TemporaryNameBeside(path, Varying());
    FileHandle file(CreateFileA(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.valid()) return file;
    const DWORD error = GetLastError();
    if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return file;
  }
  return FileHandle(INVALID_HANDLE_VALUE);
}

// A file marked read-only is the player's to keep. Windows refuses to move a file over one by
// itself; this makes sure of it where the move does not look (wine's does not).
bool ReadOnly(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// Writes `contents` over the plain file at `path` from its start, then cuts it to their length:
// only where no new file can be made beside it, such as a shared file in a folder where the player
// may not make one. Whatever goes wrong part-way leaves as much of the old text as it can.
bool RewriteInPlace(const char* path, std::string_view contents) {
  FileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || GetFileType(file.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  const bool written =
      WriteAll(file.get(), contents) && SetEndOfFile(file.get()) && FlushFileBuffers(file.get());
  return file.Close() && written;
}

}  // namespace

FileContents ReadGameFile(const char* path, std::size_t limit) {
  FileContents contents;
  const FileHandle file = OpenPlainFile(path, contents.status);
  if (contents.status != Status::kRead) return contents;
  char block[4096];
  while (contents.text.size() < limit) {
    const DWORD wanted = static_cast<DWORD>(std::min(sizeof block, limit - contents.text.size()));
    DWORD got = 0;
    if (!ReadFile(file.get(), block, wanted, &got, nullptr)) {
      contents.status = Status::kReadError;
      return contents;
    }
    if (got == 0) return contents;
    contents.text.append(block, got);
  }
  char beyond = 0;
  DWORD more = 0;
  contents.cut = !ReadFile(file.get(), &beyond, 1, &more, nullptr) || more != 0;
  return contents;
}

bool FileExists(const char* path) {
  Status status = Status::kMissing;
  return OpenPlainFile(path, status).valid();
}

bool ReplaceFile(const char* path, std::string_view contents) {
  if (ReadOnly(path)) return false;
  std::string temporary;
  FileHandle file = CreateTemporaryBeside(path, temporary);
  if (!file.valid()) return RewriteInPlace(path, contents);
  bool written = WriteAll(file.get(), contents) && FlushFileBuffers(file.get()) != 0;
  written = file.Close() && written;
  if (written &&
      MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  DeleteFileA(temporary.c_str());
  return false;
}
