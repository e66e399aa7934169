// The game's files on Windows. Reading takes only plain files on a disk; replacing writes a new
// file of a fresh name beside the old one, pushes it to the disk, then moves it over the old one
// in a single step that is itself written through to the disk. A symbolic link is written
// through to the file it points at. A file marked read-only is never replaced.

#include <algorithm>
#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "platform/file_layer.h"
#include "platform/windows/windows_api.h"

namespace {

using Status = FileContents::Status;

// The Windows operations that the steps in platform/file_layer.h are written over.
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
  static Handle OpenPlainFile(const char* path, Status& why);
};

using FileHandle = OwnedFile<WindowsFiles>;

// Opens `path` for reading when it is a plain file on a disk. Others may go on reading, writing
// or replacing it meanwhile; a folder fails the open, and a device or a pipe is turned away
// before anything is read from it.
HANDLE WindowsFiles::OpenPlainFile(const char* path, Status& why) {
  FileHandle file(CreateFileA(path, GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    const DWORD error = GetLastError();
    why = error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? Status::kMissing
                                                                         : Status::kUnreadable;
    return INVALID_HANDLE_VALUE;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (GetFileType(file.get()) != FILE_TYPE_DISK || !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    why = Status::kUnreadable;
    return INVALID_HANDLE_VALUE;
  }
  why = Status::kRead;
  return file.Release();
}

// A file marked read-only is the player's to keep. Windows refuses to move a file over one by
// itself; this makes sure of it where the move does not look (wine's does not).
bool ReadOnly(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0 &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

// What stands at `path` as the file system itself sees it, without opening it for reading or
// writing; false when nothing can be opened there.
bool LookAt(const char* path, BY_HANDLE_FILE_INFORMATION& info, std::string* final_path) {
  const FileHandle file(CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!file.valid() || !GetFileInformationByHandle(file.get(), &info)) return false;
  if (final_path == nullptr) return true;
  char name[MAX_PATH + 1];
  const DWORD length = GetFinalPathNameByHandleA(file.get(), name, sizeof name, 0);
  if (length > 0 && length < sizeof name) *final_path = name;
  return true;
}

// Where the file at `path` really stands: a symbolic link is followed to the file it points at.
// Any other name, and a link whose file is not there, stands for itself.
std::string FollowLinks(const char* path) {
  const DWORD attributes = GetFileAttributesA(path);
  std::string final_path = path;
  BY_HANDLE_FILE_INFORMATION info{};
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    LookAt(path, info, &final_path);
  }
  return final_path;
}

// Makes the file `contents` long before a byte of them is written, which fails cleanly on a full
// disk; the old length is then given back.
bool MakeRoom(HANDLE file, std::size_t size) {
  LARGE_INTEGER old{};
  LARGE_INTEGER wanted{};
  wanted.QuadPart = static_cast<LONGLONG>(size);
  if (!GetFileSizeEx(file, &old)) return false;
  if (wanted.QuadPart <= old.QuadPart) return true;
  if (SetFilePointerEx(file, wanted, nullptr, FILE_BEGIN) && SetEndOfFile(file)) return true;
  SetFilePointerEx(file, old, nullptr, FILE_BEGIN);
  SetEndOfFile(file);
  return false;
}

// Writes `contents` over the plain file at `path` from its start, then cuts it to their length:
// where no new file can be made beside it (a shared file in a folder where the player may not make
// one) and where the file has other names that must show the new contents too. The room for them
// is made first, so a full disk leaves the old contents whole.
bool RewriteInPlace(const char* path, std::string_view contents) {
  FileHandle file(CreateFileA(path, GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  BY_HANDLE_FILE_INFORMATION info{};
  if (!file.valid() || GetFileType(file.get()) != FILE_TYPE_DISK ||
      !GetFileInformationByHandle(file.get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return false;
  }
  const LARGE_INTEGER start{};
  const bool written = MakeRoom(file.get(), contents.size()) &&
                       SetFilePointerEx(file.get(), start, nullptr, FILE_BEGIN) &&
                       WriteAll<WindowsFiles>(file.get(), contents) && SetEndOfFile(file.get()) &&
                       FlushFileBuffers(file.get());
  return file.Close() && written;
}

// A name for the lock of the folder that `path` stands in, the same for every game that writes
// there: its full name, folded to one case, spread over hex digits by FNV-1a.
std::string LockNameFor(const std::string& path) {
  char full[MAX_PATH + 1];
  const DWORD length = GetFullPathNameA(path.c_str(), sizeof full, full, nullptr);
  std::string folder = length > 0 && length < sizeof full ? full : path;
  folder.erase(std::min(folder.size(), folder.find_last_of("\\/") + 1));
  std::uint64_t hash = 0xcbf29ce484222325u;
  for (const char ch : folder) {
    hash = (hash ^ static_cast<unsigned char>(std::tolower(static_cast<unsigned char>(ch)))) *
           0x100000001b3u;
  }
  char digits[17];
  std::snprintf(digits, sizeof digits, "%016llx", static_cast<unsigned long long>(hash));
  return std::string("Local\\Vorlix files ") + digits;
}

bool ReplaceOnDisk(const char* name, std::string_view contents) {
  const std::string target = FollowLinks(name);
  const char* path = target.c_str();
  if (ReadOnly(path)) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (LookAt(path, info, nullptr) && info.nNumberOfLinks > 1) return RewriteInPlace(path, contents);
  std::string temporary;
  FileHandle file = CreateTemporaryBeside<WindowsFiles>(target, temporary, [](const char* at) {
    return CreateFileA(at, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  });
  // Only a folder closed to the player calls for writing in place: where the folder is full or
  // failing, the old file is better left whole.
  if (!file.valid()) return GetLastError() == ERROR_ACCESS_DENIED && RewriteInPlace(path, contents);
  return WriteAndMoveOver(file, temporary, path, contents);
}

}  // namespace

FileContents ReadGameFile(const char* path, std::size_t limit) {
  return ReadPlainFile<WindowsFiles>(path, limit);
}

bool FileExists(const char* path) {
  return PlainFileThere<WindowsFiles>(path);
}

bool ReplaceFile(const char* name, std::string_view contents) {
  return ReplaceOnDisk(name, contents) && KeepReplacedFile(name);
}

// A named mutex rather than a lock on the file itself, which would stand in the way of moving the
// new copy over it. A game that ended while holding it leaves it abandoned, and so free.
FileLock::FileLock(const char* path) {
  const HANDLE mutex = CreateMutexA(nullptr, FALSE, LockNameFor(FollowLinks(path)).c_str());
  if (mutex == nullptr) return;
  const DWORD waited = WaitForSingleObject(mutex, INFINITE);
  if (waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED) {
    held_ = reinterpret_cast<std::intptr_t>(mutex);
  } else {
    CloseHandle(mutex);
  }
}

FileLock::~FileLock() {
  if (held_ == -1) return;
  const HANDLE mutex = reinterpret_cast<HANDLE>(held_);
  ReleaseMutex(mutex);
  CloseHandle(mutex);
}
