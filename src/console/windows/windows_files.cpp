// The game's files on Windows. Reading takes only plain files on a disk; replacing writes a new
// file of a fresh name beside the old one, pushes it to the disk, then moves it over the old one
// in a single step that is itself written through to the disk. A file marked read-only is never
// replaced.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "console/console.h"
#include "console/file_layer.h"
#include "console/windows/windows_api.h"

namespace {

using Status = FileContents::Status;

// The Windows operations that the steps in console/file_layer.h are written over.
struct WindowsFiles {
  using Handle = HANDLE;
  static Handle Closed() { return INVALID_HANDLE_VALUE; }
  static bool Close(Handle handle) { return CloseHandle(handle) != 0; }
  static std::ptrdiff_t Read(Handle file, char* into, std::size_t wanted) {
    DWORD got = 0;
    if (!ReadFile(file, into, static_cast<DWORD>(wanted), &got, nullptr)) return -1;
    return got;
  }
  static std::ptrdiff_t Write(Handle file, const char* bytes, std::size_t size) {
    const DWORD chunk = size > 0x4000'0000u ? 0x4000'0000u : static_cast<DWORD>(size);
    DWORD written = 0;
    if (!WriteFile(file, bytes, chunk, &written, nullptr)) return -1;
    return written;
  }
  static bool Sync(Handle file) { return FlushFileBuffers(file) != 0; }
  // Mixes the performance counter, the process and a count of calls.
  static std::uint64_t Varying() {
    static std::uint64_t calls = 0;
    LARGE_INTEGER counter{};
    QueryPerformanceCounter(&counter);
    return static_cast<std::uint64_t>(counter.QuadPart) ^
           (static_cast<std::uint64_t>(GetCurrentProcessId()) << 40) ^ (++calls << 20);
  }
  static bool NameTaken() {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
  }
  // The move itself is written through to the disk before it returns.
  static bool Move(const char* from, const char* to) {
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
  }
  static void Remove(const char* path) { DeleteFileA(path); }
};

using FileHandle = OwnedFile<WindowsFiles>;

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
  const bool written = WriteAll<WindowsFiles>(file.get(), contents) && SetEndOfFile(file.get()) &&
                       FlushFileBuffers(file.get());
  return file.Close() && written;
}

}  // namespace

FileContents ReadGameFile(const char* path, std::size_t limit) {
  FileContents contents;
  const FileHandle file = OpenPlainFile(path, contents.status);
  if (contents.status == Status::kRead) ReadUpTo<WindowsFiles>(file.get(), limit, contents);
  return contents;
}

bool FileExists(const char* path) {
  Status status = Status::kMissing;
  return OpenPlainFile(path, status).valid();
}

bool ReplaceFile(const char* path, std::string_view contents) {
  if (ReadOnly(path)) return false;
  std::string temporary;
  FileHandle file = CreateTemporaryBeside<WindowsFiles>(path, temporary, [](const char* name) {
    return CreateFileA(name, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  });
  // Only a folder closed to the player calls for writing in place: where the folder is full or
  // failing, the old file is better left whole.
  if (!file.valid()) return GetLastError() == ERROR_ACCESS_DENIED && RewriteInPlace(path, contents);
  return WriteAndMoveOver(file, temporary, path, contents);
}
